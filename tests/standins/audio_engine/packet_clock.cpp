#include "packet_clock.h"

#include <algorithm>

#include "engine_script.h"
#include "samples.h"

namespace engine {

namespace {

constexpr std::int16_t kJunk = 0x5A5A;  // what a silent packet's data holds: not silence

// Totals over the process, for the summary at exit.
volatile LONG64 TotalMade = 0;
volatile LONG64 TotalDropped = 0;
std::vector<std::int64_t> ReadyTimes;       // by packet number, when calls are not logged
std::vector<std::uint64_t> DroppedPackets;  // the same

bool Listed(const std::vector<std::uint64_t>& numbers, std::uint64_t number) {
  return std::find(numbers.begin(), numbers.end(), number) != numbers.end();
}

void FillPacket(std::int16_t* data, std::uint64_t firstFrame, std::uint32_t frames, bool silent) {
  const Script& script = TheScript();
  for (std::uint32_t i = 0; i < frames; ++i) {
    Frame frame = silent ? Frame{kJunk, kJunk}
                  : script.toneHz > 0
                      ? ToneFrame(firstFrame + i, script.toneHz, script.toneAmplitude)
                      : PatternFrame(firstFrame + i);
    data[2 * i] = frame.left;
    data[2 * i + 1] = frame.right;
  }
}

}  // namespace

PacketClock::~PacketClock() { Stop(); }

void PacketClock::Prepare(std::uint32_t bufferPackets) {
  const std::uint32_t frames = TheScript().packetFrames;
  slots_.assign(bufferPackets, std::vector<std::int16_t>(std::size_t{frames} * 2));
  ring_.assign(bufferPackets, ReadyPacket{});
  if (!TheScript().logCalls) {
    ReadyTimes.reserve(1 << 18);
    DroppedPackets.reserve(1 << 16);
  }
}

void PacketClock::Start() {
  if (thread_ != nullptr) return;
  stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  thread_ = CreateThread(nullptr, 0, ThreadMain, this, 0, nullptr);
}

void PacketClock::Stop() {
  if (thread_ == nullptr) return;
  ::SetEvent(stop_);
  WaitForSingleObject(thread_, INFINITE);
  CloseHandle(thread_);
  CloseHandle(stop_);
  thread_ = nullptr;
  stop_ = nullptr;
}

DWORD WINAPI PacketClock::ThreadMain(void* self) {
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
  static_cast<PacketClock*>(self)->Run();
  return 0;
}

// One packet per period on a fixed schedule from the start, so waking late does not drift.
void PacketClock::Run() {
  const std::int64_t period = std::int64_t{TheScript().periodMs} * 1000;
  const std::int64_t started = NowMicroseconds();
  for (std::int64_t tick = 1;; ++tick) {
    const std::int64_t due = started + tick * period;
    const std::int64_t left = due - NowMicroseconds();
    const DWORD wait = left > 0 ? static_cast<DWORD>((left + 999) / 1000) : 0;
    if (WaitForSingleObject(stop_, wait) == WAIT_OBJECT_0) return;
    const std::int64_t limit = TheScript().packets;
    if (limit < 0 || made_ < static_cast<std::uint64_t>(limit)) MakePacket();
  }
}

void PacketClock::MakePacket() {
  const Script& script = TheScript();
  const std::uint64_t number = made_;
  const std::uint64_t firstFrame = number * script.packetFrames;
  bool kept = false;
  AcquireSRWLockExclusive(&lock_);
  if (size_ < ring_.size()) {
    const std::size_t slot = (head_ + size_) % ring_.size();
    ReadyPacket& packet = ring_[slot];
    const bool silent = Listed(script.silent, number);
    FillPacket(slots_[slot].data(), firstFrame, script.packetFrames, silent);
    packet.number = number;
    packet.firstFrame = firstFrame;
    packet.frames = script.packetFrames;
    packet.flags = (silent ? AUDCLNT_BUFFERFLAGS_SILENT : 0) |
                   (discontinuity_ ? AUDCLNT_BUFFERFLAGS_DATA_DISCONTINUITY : 0);
    packet.data =
        Listed(script.nullData, number) ? nullptr : reinterpret_cast<BYTE*>(slots_[slot].data());
    discontinuity_ = false;
    ++size_;
    kept = true;
  } else {
    discontinuity_ = true;
    InterlockedIncrement64(&TotalDropped);
  }
  ++made_;
  InterlockedIncrement64(&TotalMade);
  ReleaseSRWLockExclusive(&lock_);
  const std::int64_t now = NowMicroseconds();
  if (kept) {
    ENGINE_CALL("ready packet=%llu frame=%llu at=%lld", static_cast<unsigned long long>(number),
                static_cast<unsigned long long>(firstFrame), static_cast<long long>(now));
  } else {
    ENGINE_CALL("overflow packet=%llu", static_cast<unsigned long long>(number));
  }
  if (!script.logCalls) {
    if (ReadyTimes.size() < ReadyTimes.capacity()) ReadyTimes.push_back(now);
    if (!kept && DroppedPackets.size() < DroppedPackets.capacity())
      DroppedPackets.push_back(number);
  }
  if (kept) ::SetEvent(event_);
}

bool PacketClock::Front(ReadyPacket* packet) {
  AcquireSRWLockShared(&lock_);
  const bool any = size_ > 0;
  if (any) *packet = ring_[head_];
  ReleaseSRWLockShared(&lock_);
  return any;
}

void PacketClock::PopFront() {
  AcquireSRWLockExclusive(&lock_);
  if (size_ > 0) {
    head_ = (head_ + 1) % ring_.size();
    --size_;
  }
  ReleaseSRWLockExclusive(&lock_);
}

void LogReadyTimesAtExit() {
  for (std::size_t number = 0; number < ReadyTimes.size(); ++number)
    TheLog().Line("ready packet=%zu at=%lld", number, static_cast<long long>(ReadyTimes[number]));
  for (std::uint64_t number : DroppedPackets)
    TheLog().Line("overflow packet=%llu", static_cast<unsigned long long>(number));
}

void LogClockSummaryAtExit() {
  TheLog().Line("summary made=%lld dropped=%lld", static_cast<long long>(TotalMade),
                static_cast<long long>(TotalDropped));
}

}  // namespace engine
