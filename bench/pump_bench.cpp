// The capture pump's steady state in the simulation: drains of several 960-frame packets,
// each one size query, fetch, fold, release and write, then one flush per drain. The timed
// window starts after warm-up packets of the same size, so set-up and first growth are left out.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

#include "allocation_counter.h"
#include "app/entry.h"
#include "sim_reset.h"

namespace {

constexpr int kDrains = 200;
constexpr int kPacketsPerDrain = 5;
constexpr std::uint64_t kFirstDrainMs = 100;
constexpr std::uint64_t kDrainPeriodMs = 20;

struct Window {
  std::chrono::steady_clock::time_point startedAt, endedAt;
  long allocationsAtStart = 0, allocationsAtEnd = 0;
  int flushesAtStart = 0, flushesAtEnd = 0;
};

Window Mark;

void ScriptCapture() {
  ResetSimulation();
  sim::AddProcess(4, 0, L"C:\\Windows\\explorer.exe");
  sim::AddProcess(42, 4, L"C:\\Apps\\app.exe");
  sim::AddWindow(100, 42, {0, 0, 640, 480});
  sim::Packet packet;
  packet.samples.assign(960 * 2, 1000);
  for (std::size_t i = 0; i < packet.samples.size(); ++i)
    packet.samples[i] = static_cast<std::int16_t>(i * 37);
  sim::Script().bursts.push_back({20, std::vector<sim::Packet>(kPacketsPerDrain, packet)});
  for (int i = 0; i < kDrains; ++i)
    sim::Script().bursts.push_back(
        {kFirstDrainMs + kDrainPeriodMs * i, std::vector<sim::Packet>(kPacketsPerDrain, packet)});
  // The simulation's own records, reserved so that the sink and its log allocate nothing.
  const std::size_t packets = (kDrains + 1) * kPacketsPerDrain;
  sim::AudioRecorded().releasedFrames.reserve(packets + 16);
  sim::AudioRecorded().bufferWaits.reserve(packets + 4096);
  sim::Recorded().stdoutBytes.reserve(960 * 2 * (packets + 16));
  sim::Recorded().stdoutSizeAtFlush.reserve(kDrains + 64);
  sim::At(kFirstDrainMs - 10, [] {
    Mark.flushesAtStart = sim::Recorded().stdoutFlushes;
    Mark.allocationsAtStart = AllocationsSoFar();
    Mark.startedAt = std::chrono::steady_clock::now();
  });
  sim::At(kFirstDrainMs + kDrainPeriodMs * kDrains - 5, [] {
    Mark.endedAt = std::chrono::steady_clock::now();
    Mark.allocationsAtEnd = AllocationsSoFar();
    Mark.flushesAtEnd = sim::Recorded().stdoutFlushes;
  });
  sim::At(kFirstDrainMs + kDrainPeriodMs * kDrains + 100, sim::CloseStdin);
}

int RunCapture() {
  std::vector<std::wstring> args = {L"C:\\tessik\\tessik-helper.exe", L"capture", L"100"};
  std::vector<wchar_t*> argv;
  for (std::wstring& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int code = TessikMain(static_cast<int>(args.size()), argv.data());
  sim::WaitForCompletionThread();
  return code;
}

void BM_PumpDrains(benchmark::State& state) {
  double packets = 0, allocations = 0, flushes = 0, seconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    ScriptCapture();
    state.ResumeTiming();
    RunCapture();
    const double timed = std::chrono::duration<double>(Mark.endedAt - Mark.startedAt).count();
    state.SetIterationTime(timed);
    seconds += timed;
    packets += kDrains * kPacketsPerDrain;
    allocations += static_cast<double>(Mark.allocationsAtEnd - Mark.allocationsAtStart);
    flushes += Mark.flushesAtEnd - Mark.flushesAtStart;
    if (sim::AudioRecorded().packetsFetched != (kDrains + 1) * kPacketsPerDrain)
      state.SkipWithError("the capture did not take every packet");
  }
  state.counters["packets"] = packets;
  state.counters["allocs_per_1000_packets"] = allocations * 1000 / packets;
  state.counters["flushes_per_drain"] = flushes / (packets / kPacketsPerDrain);
  state.counters["ns_per_packet"] = seconds * 1e9 / packets;
  ResetSimulation();
}

}  // namespace

BENCHMARK(BM_PumpDrains)->UseManualTime()->Unit(benchmark::kMicrosecond);
