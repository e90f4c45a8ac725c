#include "capture/capture_pump.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
  std::uint32_t i = 0;
#if defined(__SSE2__)
  // Eight frames a step. Compilers do not vectorise the plain loop well on SSE2 (the stride-2
  // reads and the narrowing store become shuffles), so it is spelt out: pmaddwd by ones gives
  // each frame's left + right as a 32-bit sum; adding the sign bit before the arithmetic shift
  // truncates toward zero as / 2 does; the halves fit 16 bits, so the saturating pack is exact.
  const __m128i ones = _mm_set1_epi16(1);
  for (; i + 8 <= frames; i += 8) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(stereo + 2 * i));
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(stereo + 2 * i + 8));
    __m128i sumLow = _mm_madd_epi16(low, ones);
    __m128i sumHigh = _mm_madd_epi16(high, ones);
    sumLow = _mm_srai_epi32(_mm_add_epi32(sumLow, _mm_srli_epi32(sumLow, 31)), 1);
    sumHigh = _mm_srai_epi32(_mm_add_epi32(sumHigh, _mm_srli_epi32(sumHigh, 31)), 1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(mono + i), _mm_packs_epi32(sumLow, sumHigh));
  }
#endif
  for (; i < frames; ++i) {
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
