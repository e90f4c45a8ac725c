// The scripted audio engine, stream half: the audio client, the capture client and the packets
// of the scripted bursts, signalled on the simulated clock.
#include <algorithm>
#include <mutex>
#include <optional>

#include "platform/simulated/simulated_audio_state.h"

namespace sim::detail {

namespace {

std::uint32_t FramesOf(const Packet& packet) {
  return packet.frames != UINT32_MAX ? packet.frames
                                     : static_cast<std::uint32_t>(packet.samples.size() / 2);
}

// Skips bursts that are used up, so readyBurst names the one holding the next packet.
void SkipDrainedBursts() {
  AudioState& audio = Audio();
  while (audio.readyBurst < audio.nextBurst &&
         audio.readyPacket >= audio.script.bursts[audio.readyBurst].packets.size()) {
    ++audio.readyBurst;
    audio.readyPacket = 0;
  }
}

Packet* ReadyPacket() {
  AudioState& audio = Audio();
  SkipDrainedBursts();
  if (audio.readyBurst >= audio.nextBurst) return nullptr;
  return &audio.script.bursts[audio.readyBurst].packets[audio.readyPacket];
}

void DropReadyPacket() {
  if (ReadyPacket() != nullptr) ++Audio().readyPacket;
}

// The burst's packets become ready; data is padded so the program never reads past it.
void SignalNextBurst() {
  AudioState& audio = Audio();
  for (Packet& packet : audio.script.bursts[audio.nextBurst].packets) {
    const std::size_t needed = std::size_t{FramesOf(packet)} * 2;
    if (!packet.nullData && packet.samples.size() < needed) packet.samples.resize(needed);
  }
  ++audio.nextBurst;
}

std::optional<std::uint64_t> NextBurstTime() {
  const AudioState& audio = Audio();
  if (audio.nextBurst >= audio.script.bursts.size()) return std::nullopt;
  return audio.script.bursts[audio.nextBurst].atMs;
}

}  // namespace

bool IsRunningBufferEvent(Handle event) {
  std::lock_guard lock(Mutex());
  return Audio().running && event != nullptr && event == Audio().bufferEvent;
}

// Actions due before the next burst run first; the burst ends the wait if it comes within
// the time-out, else the wait times out with the clock moved on by it.
std::uint32_t WaitForBuffer(std::uint32_t milliseconds) {
  Audio().record.bufferWaits.push_back(milliseconds);
  const std::uint64_t deadline = sim::Now() + milliseconds;
  for (;;) {
    const std::optional<std::uint64_t> burst = NextBurstTime();
    const std::optional<std::uint64_t> action = NextActionTime();
    if (action && *action <= deadline && (!burst || *action <= std::max(*burst, sim::Now()))) {
      RunNextAction();
      continue;
    }
    if (burst && *burst <= deadline) {
      SetClock(*burst);
      SignalNextBurst();
      return platform::kWaitObject0;
    }
    SetClock(deadline);
    return platform::kWaitTimeout;
  }
}

void NoteHandleClosed(Handle handle) {
  std::lock_guard lock(Mutex());
  if (handle == nullptr || handle != Audio().bufferEvent) return;
  Audio().bufferEvent = nullptr;
  Call("CloseHandle event");
}

void ResetStream() {
  AudioState& audio = Audio();
  audio.running = false;
  audio.nextBurst = 0;
  audio.readyBurst = 0;
  audio.readyPacket = 0;
}

}  // namespace sim::detail

namespace platform {

namespace {

using sim::detail::Audio;
using sim::detail::Call;
using sim::detail::HandOut;
using sim::detail::Make;
using sim::detail::Mutex;

constexpr Status kEInvalidArg = static_cast<Status>(0x80070057u);
constexpr Status kSBufferEmpty = static_cast<Status>(0x08890001u);

}  // namespace

Status Initialize(::IAudioClient*, std::uint32_t shareMode, std::uint32_t streamFlags,
                  std::int64_t bufferDuration, std::int64_t periodicity, const WaveFormatEx* format,
                  const Guid* sessionGuid) {
  Call("Initialize");
  sim::AudioRecord& record = Audio().record;
  record.shareMode = shareMode;
  record.streamFlags = streamFlags;
  record.bufferDuration = bufferDuration;
  record.periodicity = periodicity;
  if (format != nullptr) record.format = *format;
  record.sessionGuidNull = sessionGuid == nullptr;
  if (format == nullptr) return kEPointer;
  return Audio().script.initialize;
}

// Attaches the event only when the script lets the call succeed.
Status SetEventHandle(::IAudioClient*, Handle event) {
  Call("SetEventHandle");
  if (event == nullptr) return kEInvalidArg;
  std::lock_guard lock(Mutex());
  const sim::detail::HandleEntry* entry = sim::detail::FindHandle(event);
  if (entry == nullptr || entry->kind != sim::detail::HandleKind::Event) return kEInvalidArg;
  Audio().record.bufferEventManualReset = entry->manualReset;
  const Status status = Audio().script.setEventHandle;
  if (status >= 0) Audio().bufferEvent = event;
  return status;
}

Status GetService(::IAudioClient* client, const Guid& iid, void** out) {
  Call("GetService");
  Audio().record.serviceIid = iid;
  if (out == nullptr || client == nullptr) return kEPointer;
  *out = nullptr;
  const Status status = Audio().script.getService;
  if (status < 0 || Audio().script.getServiceGivesNull) return status;
  if (!(iid == IID_IAudioCaptureClient)) return kENoInterface;
  if (client->capture == nullptr) client->capture = Make(Audio().captures);
  *out = HandOut(client->capture);
  return status;
}

Status Start(::IAudioClient*) {
  Call("Start");
  const Status status = Audio().script.start;
  if (status >= 0) {
    std::lock_guard lock(Mutex());
    Audio().running = true;
  }
  return status;
}

Status Stop(::IAudioClient*) {
  Call("Stop");
  std::lock_guard lock(Mutex());
  Audio().running = false;
  return kSOk;
}

std::uint32_t Release(::IAudioClient* client) {
  return sim::detail::ReleaseObject(client, "Release IAudioClient");
}

// A packet whose size query fails is reported once and dropped, so the next drain goes on.
Status GetNextPacketSize(::IAudioCaptureClient*, std::uint32_t* frames) {
  if (frames == nullptr) return kEPointer;
  *frames = 0;
  const sim::Packet* packet = sim::detail::ReadyPacket();
  if (packet == nullptr) return kSOk;
  if (packet->sizeStatus < 0) {
    const Status status = packet->sizeStatus;
    sim::detail::DropReadyPacket();
    return status;
  }
  const std::uint32_t count = sim::detail::FramesOf(*packet);
  *frames = packet->reportedSize != 0 ? packet->reportedSize : (count != 0 ? count : 1);
  return kSOk;
}

Status GetBuffer(::IAudioCaptureClient*, std::uint8_t** data, std::uint32_t* frames,
                 std::uint32_t* flags, std::uint64_t* devicePosition, std::uint64_t* qpcPosition) {
  if (data == nullptr || frames == nullptr || flags == nullptr) return kEPointer;
  sim::Packet* packet = sim::detail::ReadyPacket();
  if (packet == nullptr) {
    *frames = 0;
    return kSBufferEmpty;
  }
  if (packet->bufferStatus < 0) return packet->bufferStatus;  // nothing handed out; it stays
  *data = packet->nullData ? nullptr : reinterpret_cast<std::uint8_t*>(packet->samples.data());
  *frames = sim::detail::FramesOf(*packet);
  *flags = packet->flags;
  if (devicePosition != nullptr) *devicePosition = 0;
  if (qpcPosition != nullptr) *qpcPosition = 0;
  ++Audio().record.packetsFetched;
  if (packet->endsStdinWhenFetched) sim::CloseStdin();
  return kSOk;
}

Status ReleaseBuffer(::IAudioCaptureClient*, std::uint32_t frames) {
  sim::AudioRecord& record = Audio().record;
  record.releasedFrames.push_back(frames);
  ++record.packetsReleased;
  sim::detail::DropReadyPacket();
  return kSOk;
}

std::uint32_t Release(::IAudioCaptureClient* capture) {
  return sim::detail::ReleaseObject(capture, "Release IAudioCaptureClient");
}

}  // namespace platform
