// The mono fold against memcpy of the same input bytes, on the packet sizes the engine hands
// out (960 frames: 20 ms at 48 kHz; 4800: a late wake-up's 100 ms). A packet reaches the
// program freshly written by the engine's mixing thread on another core, so the main figures
// read packets in turn from a pool larger than this core's own caches (8 MiB: past L2, within
// a desktop's L3); the "InCache" pair reads one packet over and over, the fold's worst case.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "capture/capture_pump.h"

namespace {

std::vector<std::int16_t> NoiseFrames(std::size_t frames) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> sample(-32768, 32767);
  std::vector<std::int16_t> stereo(frames * 2);
  for (std::int16_t& s : stereo) s = static_cast<std::int16_t>(sample(random));
  return stereo;
}

constexpr std::size_t kPoolBytes = 8u << 20;

// Packets one after another in a pool of about poolBytes (at least one packet).
struct Pool {
  std::vector<std::int16_t> stereo;
  std::size_t packetSamples = 0;
  std::size_t packets = 0;
};

Pool MakePool(std::uint32_t frames, std::size_t poolBytes) {
  Pool pool;
  pool.packetSamples = std::size_t{frames} * 2;
  pool.packets = std::max<std::size_t>(1, poolBytes / (pool.packetSamples * 2));
  pool.stereo = NoiseFrames(pool.packets * frames);
  return pool;
}

template <bool kFold>
void Measure(benchmark::State& state, std::size_t poolBytes) {
  const auto frames = static_cast<std::uint32_t>(state.range(0));
  const Pool pool = MakePool(frames, poolBytes);
  std::vector<std::int16_t> out(pool.packetSamples);
  std::size_t next = 0;
  for (auto _ : state) {
    const std::int16_t* packet = pool.stereo.data() + next * pool.packetSamples;
    if (kFold)
      FoldStereoToMono(packet, frames, out.data());
    else
      std::memcpy(out.data(), packet, std::size_t{frames} * 4);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
    if (++next == pool.packets) next = 0;
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * frames * 4);
}

void BM_Fold(benchmark::State& state) { Measure<true>(state, kPoolBytes); }
void BM_Memcpy(benchmark::State& state) { Measure<false>(state, kPoolBytes); }
void BM_FoldInCache(benchmark::State& state) { Measure<true>(state, 0); }
void BM_MemcpyInCache(benchmark::State& state) { Measure<false>(state, 0); }

}  // namespace

BENCHMARK(BM_Fold)->Arg(960)->Arg(4800);
BENCHMARK(BM_Memcpy)->Arg(960)->Arg(4800);
BENCHMARK(BM_FoldInCache)->Arg(960)->Arg(4800);
BENCHMARK(BM_MemcpyInCache)->Arg(960)->Arg(4800);
