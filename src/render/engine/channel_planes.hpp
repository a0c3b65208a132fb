// Per-channel planes of doubles (byte / 255) over one rectangular region.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace orvex {

struct ChannelPlanes {
  std::int64_t width = 0;
  std::int64_t height = 0;
  std::vector<std::vector<double>> planes;

  std::int64_t pixel_count() const { return width * height; }
  int count() const { return static_cast<int>(planes.size()); }
  std::span<double> plane(int c) { return planes[static_cast<std::size_t>(c)]; }
  std::span<const double> plane(int c) const { return planes[static_cast<std::size_t>(c)]; }
};

ChannelPlanes alloc_planes(int count, std::int64_t width, std::int64_t height);

// Splits interleaved bytes (bpp channels per pixel, row-major) into planes: all of
// them, or only the first `plane_count`.
ChannelPlanes read_planes(std::span<const std::uint8_t> pixels, int bpp, std::int64_t width,
                          std::int64_t height, int thread_count = 1, int plane_count = -1);

// The channels that receive rays: all but a trailing alpha channel.
constexpr int colour_count(int bpp) { return (bpp == 2 || bpp == 4) ? bpp - 1 : bpp; }

}  // namespace orvex
