#include "render/engine/blend.hpp"

#include <stdexcept>

namespace orvex {

void blend_to_bytes(double brightness, std::span<const std::uint8_t> base, int bpp,
                    const ChannelPlanes& accumulation, std::span<std::uint8_t> out) {
  const std::int64_t n = accumulation.pixel_count();
  const int colours = colour_count(bpp);
  if (accumulation.count() < colours || static_cast<std::int64_t>(base.size()) < n * bpp ||
      static_cast<std::int64_t>(out.size()) < n * bpp)
    throw std::invalid_argument("blend buffers do not match the region");
  for (int c = 0; c < bpp; ++c) {
    if (c >= colours) {
      for (std::int64_t i = 0; i < n; ++i) out[i * bpp + c] = base[i * bpp + c];
      continue;
    }
    const std::span<const double> acc = accumulation.plane(c);
    for (std::int64_t i = 0; i < n; ++i)
      out[i * bpp + c] = to_byte(blend_value(brightness, base[i * bpp + c] / 255.0, acc[i]));
  }
}

}  // namespace orvex
