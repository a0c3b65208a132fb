#include "render/engine/blend.hpp"

#include <stdexcept>

#include "render/engine/parallel.hpp"

namespace orvex {

void blend_to_bytes(double brightness, std::span<const std::uint8_t> base, int bpp,
                    const ChannelPlanes& accumulation, std::span<std::uint8_t> out,
                    int thread_count) {
  const std::int64_t n = accumulation.pixel_count();
  const int colours = colour_count(bpp);
  if (accumulation.count() < colours || static_cast<std::int64_t>(base.size()) < n * bpp ||
      static_cast<std::int64_t>(out.size()) < n * bpp)
    throw std::invalid_argument("blend buffers do not match the region");
  parallel_for(n, thread_count, [&](std::int64_t begin, std::int64_t end) {
    for (std::int64_t i = begin; i < end; ++i) {
      for (int c = 0; c < colours; ++c)
        out[i * bpp + c] =
            to_byte(blend_value(brightness, base[i * bpp + c] / 255.0, accumulation.plane(c)[i]));
      for (int c = colours; c < bpp; ++c) out[i * bpp + c] = base[i * bpp + c];
    }
  });
}

}  // namespace orvex
