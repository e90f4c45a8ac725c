#include "capture/capture_pump.h"

#include <algorithm>
#include <cstring>

#include "app/stop_flag.h"
#include "platform/desktop_services.h"

namespace {

// Bounds how long a stop request waits while the engine is quiet.
constexpr std::uint32_t kBufferWaitMs = 200;

// Converts and writes one packet; false when the packet could not be fetched or delivered.
bool PumpPacket(::IAudioCaptureClient* capture, MonoBuffer& mono) {
  std::uint8_t* data = nullptr;
  std::uint32_t frames = 0;
  std::uint32_t flags = 0;
  if (platform::GetBuffer(capture, &data, &frames, &flags, nullptr, nullptr) < 0) return false;
  mono.resize(frames);
  if ((flags & platform::AUDCLNT_BUFFERFLAGS_SILENT) != 0 || data == nullptr) {
    std::fill(mono.begin(), mono.end(), std::int16_t{0});
  } else {
    FoldStereoToMono(reinterpret_cast<const std::int16_t*>(data), frames, mono.data());
  }
  platform::ReleaseBuffer(capture, frames);
  if (frames == 0) return true;
  std::size_t bytes = static_cast<std::size_t>(frames) * sizeof(std::int16_t);
  return platform::WriteStdout(mono.data(), bytes) == bytes;
}

void DrainPackets(::IAudioCaptureClient* capture, MonoBuffer& mono) {
  while (!IsStopRequested()) {
    std::uint32_t ready = 0;
    if (platform::GetNextPacketSize(capture, &ready) < 0 || ready == 0) return;
    if (!PumpPacket(capture, mono)) {
      StopRequested.store(1);
      return;
    }
  }
}

}  // namespace

void FoldStereoToMono(const std::int16_t* stereo, std::uint32_t frames, std::int16_t* mono) {
  for (std::uint32_t i = 0; i < frames; ++i) {
    std::int32_t sum = std::int32_t{stereo[2 * i]} + std::int32_t{stereo[2 * i + 1]};
    mono[i] = static_cast<std::int16_t>(sum / 2);
  }
}

void PumpCapture(::IAudioCaptureClient* capture, platform::Handle bufferEvent, MonoBuffer& mono) {
  while (!IsStopRequested()) {
    if (platform::WaitForSingleObject(bufferEvent, kBufferWaitMs) != platform::kWaitObject0)
      continue;
    DrainPackets(capture, mono);
    if (!platform::FlushStdout()) StopRequested.store(1);
  }
}
