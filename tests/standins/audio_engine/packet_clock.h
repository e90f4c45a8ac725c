// The engine's side of a running stream. After Start a thread of its own makes one packet of
// interleaved 16-bit stereo ready every period and signals the client's event; it holds at
// most the buffer's worth of packets and drops what does not fit (the next packet it keeps is
// then marked as a discontinuity), as a real engine loses data that nobody reads in time.
#pragma once

#include <windows.h>
#include <audioclient.h>

#include <cstdint>
#include <vector>

namespace engine {

struct ReadyPacket {
  std::uint64_t number = 0;      // packets made before this one, dropped ones included
  std::uint64_t firstFrame = 0;  // frame index of its first frame
  std::uint32_t frames = 0;
  DWORD flags = 0;
  BYTE* data = nullptr;  // null for a packet scripted without a data pointer
};

class PacketClock {
 public:
  PacketClock() = default;
  PacketClock(const PacketClock&) = delete;
  PacketClock& operator=(const PacketClock&) = delete;
  ~PacketClock();

  void Prepare(std::uint32_t bufferPackets);  // at Initialize: allocates every packet slot
  void AttachEvent(HANDLE event) { event_ = event; }
  HANDLE Event() const { return event_; }
  bool Running() const { return thread_ != nullptr; }
  void Start();
  void Stop();  // returns once the thread has ended: no event is signalled after it

  bool Front(ReadyPacket* packet);  // the oldest ready packet, if any
  void PopFront();

 private:
  static DWORD WINAPI ThreadMain(void* self);
  void Run();
  void MakePacket();

  HANDLE event_ = nullptr;
  HANDLE stop_ = nullptr;
  HANDLE thread_ = nullptr;
  SRWLOCK lock_ = SRWLOCK_INIT;
  std::vector<std::vector<std::int16_t>> slots_;
  std::vector<ReadyPacket> ring_;
  std::size_t head_ = 0;
  std::size_t size_ = 0;
  std::uint64_t made_ = 0;
  bool discontinuity_ = false;
};

// Times at which packets were made ready and the packets dropped, kept in memory when calls are
// not logged and written at exit ("ready packet=<n> at=<us>", "overflow packet=<n>"), so that
// a benchmark's figure is not the log's.
void LogReadyTimesAtExit();
// "summary made=<packets> dropped=<packets>" over the whole process.
void LogClockSummaryAtExit();

}  // namespace engine
