// Laying the accumulated rays over the image and converting back to bytes.
#pragma once

#include <cstdint>
#include <span>

#include "render/engine/channel_planes.hpp"

namespace orvex {

// The screen-like blend of one value: full intensity where brightness x rays reaches 50.
inline double blend_value(double brightness, double base, double accumulation) {
  double a = brightness * accumulation / 50;
  if (a > 1) a = 1;
  if (a < 0) a = 0;
  return (1 - a) * base + a;
}

// Scales to 0..255, clamps and truncates toward zero, so that an untouched value
// (byte / 255) gives its byte back exactly.
inline std::uint8_t to_byte(double value) {
  double v = value * 255;
  if (v > 255) v = 255;
  if (v < 0) v = 0;
  if (v != v) v = 0;
  return static_cast<std::uint8_t>(v);
}

// Writes the blended region into `out` (interleaved like `base`). Alpha is copied unchanged.
void blend_to_bytes(double brightness, std::span<const std::uint8_t> base, int bpp,
                    const ChannelPlanes& accumulation, std::span<std::uint8_t> out,
                    int thread_count = 1);

}  // namespace orvex
