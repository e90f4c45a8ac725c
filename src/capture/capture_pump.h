// The capture pump: engine packets of 16-bit stereo in, 16-bit mono PCM out on standard output.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/audio_services.h"

// Reused for every packet: once it has held the largest packet, nothing more is allocated.
using MonoBuffer = std::vector<std::int16_t>;

// (left + right) / 2 per frame, summed in 32 bits and truncated toward zero, so silence stays
// silence and the extremes keep their values.
void FoldStereoToMono(const std::int16_t* stereo, std::uint32_t frames, std::int16_t* mono);

// Waits on the buffer event in 200 ms slices, drains every ready packet, and writes the samples;
// flushes once per drain. Returns when StopRequested is set, which it sets itself when a packet
// cannot be fetched or the samples cannot be delivered.
void PumpCapture(::IAudioCaptureClient* capture, platform::Handle bufferEvent, MonoBuffer& mono);
