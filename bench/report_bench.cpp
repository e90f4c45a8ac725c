// One foreground report whose line is unchanged (the 2000 ms tick on a quiet desktop), and
// the same report when the foreground window is a store app's frame host with many children.
#include <benchmark/benchmark.h>

#include "allocation_counter.h"
#include "foreground/watcher.h"
#include "sim_reset.h"

namespace {

constexpr sim::WindowHandle kForeground = 100;

void DesktopWithForeground(const wchar_t* image) {
  ResetSimulation();
  sim::AddProcess(4, 0, L"C:\\Windows\\explorer.exe");
  sim::AddProcess(42, 4, image);
  sim::AddWindow(kForeground, 42, {10, 20, 810, 620});
  sim::Model().foreground = kForeground;
}

void MeasureReports(benchmark::State& state) {
  EmitForegroundReport();  // the first line; every later one is unchanged
  const long before = AllocationsSoFar();
  for (auto _ : state) EmitForegroundReport();
  state.counters["allocs_per_report"] =
      static_cast<double>(AllocationsSoFar() - before) / static_cast<double>(state.iterations());
  if (sim::Recorded().stdoutFlushes != 1) state.SkipWithError("a report line was written again");
  ResetSimulation();
}

void BM_ReportUnchanged(benchmark::State& state) {
  DesktopWithForeground(L"C:\\Apps\\app.exe");
  MeasureReports(state);
}

// The children hold no hosted process, so every one is visited. They are handles the model
// does not know (their owner reads as 0, the same path through the program as a child of the
// frame host itself): the simulation finds a known window by a linear scan, which would make
// this figure measure the simulation rather than the program.
void BM_ReportFrameHost(benchmark::State& state) {
  DesktopWithForeground(L"C:\\Windows\\System32\\ApplicationFrameHost.exe");
  sim::Window& host = *sim::FindWindow(kForeground);
  for (std::int64_t i = 0; i < state.range(0); ++i)
    host.children.push_back(static_cast<sim::WindowHandle>(0x10000 + i));
  MeasureReports(state);
}

}  // namespace

BENCHMARK(BM_ReportUnchanged);
BENCHMARK(BM_ReportFrameHost)->Arg(10)->Arg(1000);
