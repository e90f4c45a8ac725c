// The capture root over a system-wide snapshot of many processes: a browser-like chain of the
// same executable among unrelated processes, listed in an order unrelated to their pids.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "identity/process_family.h"
#include "sim_reset.h"

namespace {

void BM_ResolveCaptureRoot(benchmark::State& state) {
  const auto count = static_cast<std::uint32_t>(state.range(0));
  ResetSimulation();
  std::vector<std::uint32_t> pids(count);
  for (std::uint32_t i = 0; i < count; ++i) pids[i] = 4 * (i + 1);
  std::mt19937 random(11);
  std::shuffle(pids.begin(), pids.end(), random);
  // pids[0..7] form the chain of app.exe under explorer (pids[8]); the rest are services.
  for (std::uint32_t i = 0; i < count; ++i) {
    if (i < 8)
      sim::AddProcess(pids[i], pids[i + 1], L"C:\\Apps\\app.exe");
    else
      sim::AddProcess(pids[i], i == 8 ? 0 : pids[8 + random() % (i - 8)],
                      L"C:\\Windows\\System32\\svc" + std::to_wstring(i % 97) + L".exe");
  }
  const std::uint32_t excluded = pids[count - 1];
  for (auto _ : state) {
    CaptureRoot root = ResolveCaptureRoot(pids[0], excluded);
    benchmark::DoNotOptimize(root);
  }
  if (ResolveCaptureRoot(pids[0], excluded).rootPid != pids[7])
    state.SkipWithError("the chain did not resolve to its top");
  ResetSimulation();
}

}  // namespace

BENCHMARK(BM_ResolveCaptureRoot)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);
