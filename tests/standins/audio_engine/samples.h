// What the engine captures: a deterministic function of the frame index that a test can
// recompute. The test pattern starts every 16 frames with the extremes and the odd sums that
// show how a fold to mono rounds, then eight frames of a multiplicative hash of the index.
// A tone is the same sine on both channels, for listening and measuring.
#pragma once

#include <cmath>
#include <cstdint>

namespace engine {

struct Frame {
  std::int16_t left;
  std::int16_t right;
};

inline Frame PatternFrame(std::uint64_t index) {
  static constexpr Frame kEdges[8] = {{-32768, -32768}, {32767, 32767}, {-3, 0},
                                      {3, 0},           {-1, 0},        {1, 0},
                                      {32767, -32768},  {-32768, -1}};
  if (index % 16 < 8) return kEdges[index % 16];
  const std::uint32_t hash = static_cast<std::uint32_t>(index * 2654435761u);
  return {static_cast<std::int16_t>(hash & 0xFFFF), static_cast<std::int16_t>(hash >> 16)};
}

inline Frame ToneFrame(std::uint64_t index, double hz, int amplitude) {
  const double phase =
      2.0 * 3.14159265358979323846 * hz * static_cast<double>(index % 48000) / 48000.0;
  const auto value = static_cast<std::int16_t>(std::lround(amplitude * std::sin(phase)));
  return {value, value};
}

}  // namespace engine
