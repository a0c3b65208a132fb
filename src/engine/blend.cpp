#include "engine/blend.hpp"

namespace orvex {

namespace {

template <SampleType T>
void blend_line(int channel, double brightness, const double* rays, std::int64_t width,
                const std::byte* base, std::byte* out, std::int64_t pixel_bytes) {
  const std::int64_t offset = std::int64_t{channel} * sample_bytes(T);
  for (std::int64_t x = 0; x < width; ++x) {
    const double a = blend_factor(brightness, rays[x]);
    const std::byte* from = base + x * pixel_bytes + offset;
    std::byte* to = out + x * pixel_bytes + offset;
    const auto sample = load_sample<T>(from);
    store_sample<T>(to, a == 0 ? sample : Sample<T>::from_unit((1 - a) * Sample<T>::unit(sample) + a));
  }
}

const std::byte* base_row(const ConstPixels& base, const Rect& view, std::int64_t y) {
  return base.bytes.data() + y * base.layout.row_bytes() + view.x * base.layout.pixel_bytes();
}

std::byte* out_row(const MutablePixels& out, const Rect& view, std::int64_t y) {
  return out.bytes.data() + (y - view.y) * out.layout.row_bytes();
}

}  // namespace

void blend_rows(int channel, double brightness, const double* rays, const Rect& view,
                std::int64_t y0, std::int64_t rows, const ConstPixels& base, const MutablePixels& out) {
  with_sample_type(base.layout.type, [&]<SampleType T>() {
    for (std::int64_t r = 0; r < rows; ++r)
      blend_line<T>(channel, brightness, rays + r * view.width, view.width,
                    base_row(base, view, y0 + r), out_row(out, view, y0 + r), base.layout.pixel_bytes());
  });
}

void copy_alpha_rows(const Rect& view, std::int64_t y0, std::int64_t rows, const ConstPixels& base,
                     const MutablePixels& out) {
  const int channels = base.layout.channels;
  if (colour_count(channels) == channels) return;
  const std::int64_t size = sample_bytes(base.layout.type);
  const std::int64_t pixel = base.layout.pixel_bytes();
  for (std::int64_t r = 0; r < rows; ++r) {
    const std::byte* from = base_row(base, view, y0 + r) + (channels - 1) * size;
    std::byte* to = out_row(out, view, y0 + r) + (channels - 1) * size;
    if (from == to) continue;
    for (std::int64_t x = 0; x < view.width; ++x)
      for (std::int64_t b = 0; b < size; ++b) to[x * pixel + b] = from[x * pixel + b];
  }
}

}  // namespace orvex
