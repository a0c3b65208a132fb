#include "render/engine/channel_planes.hpp"

#include <algorithm>
#include <stdexcept>

#include "render/engine/parallel.hpp"

namespace orvex {

ChannelPlanes alloc_planes(int count, std::int64_t width, std::int64_t height) {
  if (width < 0 || height < 0) throw std::invalid_argument("negative region size");
  ChannelPlanes planes;
  planes.width = width;
  planes.height = height;
  planes.planes.resize(static_cast<std::size_t>(count));
  for (auto& plane : planes.planes) plane.assign(static_cast<std::size_t>(width * height), 0.0);
  return planes;
}

ChannelPlanes read_planes(std::span<const std::uint8_t> pixels, int bpp, std::int64_t width,
                          std::int64_t height, int thread_count, int plane_count) {
  const int count = plane_count < 0 ? bpp : std::min(plane_count, bpp);
  ChannelPlanes planes = alloc_planes(count, width, height);
  const std::int64_t n = planes.pixel_count();
  if (static_cast<std::int64_t>(pixels.size()) < n * bpp)
    throw std::invalid_argument("pixel buffer smaller than the region");
  parallel_for(n, thread_count, [&](std::int64_t begin, std::int64_t end) {
    for (int c = 0; c < count; ++c) {
      std::span<double> plane = planes.plane(c);
      for (std::int64_t i = begin; i < end; ++i) plane[i] = pixels[i * bpp + c] / 255.0;
    }
  });
  return planes;
}

}  // namespace orvex
