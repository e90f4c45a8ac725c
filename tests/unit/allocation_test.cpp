// Counts heap allocations made while the pump runs in its steady state.
#include <atomic>
#include <cstdlib>
#include <new>

#include "capture_test_support.h"

namespace {
std::atomic<bool> Counting{false};
std::atomic<long> Allocations{0};
}  // namespace

void* operator new(std::size_t size) {
  if (Counting.load()) Allocations.fetch_add(1);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

class PumpAllocationTest : public CaptureTest {};

TEST_F(PumpAllocationTest, SteadyStateAllocatesNothing) {
  sim::Packet packet;
  packet.samples.assign(960 * 2, 1000);
  // Warm-up packets of the largest size, then 1000 packets in 100 drains of 10.
  sim::Script().bursts.push_back({20, std::vector<sim::Packet>(3, packet)});
  for (int i = 0; i < 100; ++i)
    sim::Script().bursts.push_back({100u + 20u * i, std::vector<sim::Packet>(10, packet)});
  sim::AudioRecorded().releasedFrames.reserve(2000);
  sim::AudioRecorded().bufferWaits.reserve(2000);
  sim::Recorded().stdoutBytes.reserve(960 * 2 * 1100);
  sim::Recorded().stdoutSizeAtFlush.reserve(200);
  sim::At(90, [] { Counting.store(true); });
  sim::At(100 + 20 * 100, [] { Counting.store(false); });
  sim::At(5000, sim::CloseStdin);
  Capture();
  EXPECT_EQ(sim::AudioRecorded().packetsFetched, 1003);
  EXPECT_EQ(Allocations.load(), 0);
}

}  // namespace
