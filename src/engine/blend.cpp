#include "engine/blend.hpp"

#include <algorithm>

#include "engine/vector_versions.hpp"

namespace orvex {

namespace {

// Raw samples in `values` (scaled by `scale`) become the blended samples, before rounding: the
// blend of value v is (1 - a) * v + a, a the blend factor of the rays. Contiguous, for the
// vector units; integer samples are kept within their range.
ORVEX_VECTOR_VERSIONS
void mix_integers(double* __restrict values, const double* __restrict rays, std::int64_t count,
                  double brightness, double scale, double offset) {
  for (std::int64_t i = 0; i < count; ++i) {
    const double a = blend_factor(brightness, rays[i]);
    const double v = ((1 - a) * (values[i] / scale) + a) * scale + offset;
    values[i] = std::min(std::max(v, 0.0), scale);
  }
}

ORVEX_VECTOR_VERSIONS
void mix_floats(double* __restrict values, const double* __restrict rays, std::int64_t count, double brightness) {
  for (std::int64_t i = 0; i < count; ++i) {
    const double a = blend_factor(brightness, rays[i]);
    values[i] = (1 - a) * values[i] + a;
  }
}

// One channel of a line of pixels, in chunks gathered out of and back into the interleaved
// samples. Integer samples come back exactly where no ray adds anything (a byte b is b / 255
// and back); float samples are copied there (-0 and NaN stay as they are).
template <SampleType T>
void blend_line(int channel, int channels, double brightness, const double* rays, std::int64_t width,
                const std::byte* base, std::byte* out) {
  using S = typename Sample<T>::type;
  constexpr std::int64_t kChunk = 256;
  constexpr bool floating = T == SampleType::f32 || T == SampleType::f64;
  const std::int64_t step = std::int64_t{channels} * static_cast<std::int64_t>(sizeof(S));
  double values[kChunk];
  for (std::int64_t x0 = 0; x0 < width; x0 += kChunk) {
    const std::int64_t n = std::min(kChunk, width - x0);
    const std::byte* from = base + (x0 * channels + channel) * static_cast<std::int64_t>(sizeof(S));
    std::byte* to = out + (x0 * channels + channel) * static_cast<std::int64_t>(sizeof(S));
    for (std::int64_t i = 0; i < n; ++i) values[i] = static_cast<double>(load_sample<T>(from + i * step));
    if constexpr (floating) {
      mix_floats(values, rays + x0, n, brightness);
      for (std::int64_t i = 0; i < n; ++i)
        store_sample<T>(to + i * step, blend_factor(brightness, rays[x0 + i]) > 0 ? static_cast<S>(values[i])
                                                                                   : load_sample<T>(from + i * step));
    } else {
      constexpr double scale = T == SampleType::u8 ? 255 : 65535;
      mix_integers(values, rays + x0, n, brightness, scale, T == SampleType::u8 ? 0.0 : 0.5);
      for (std::int64_t i = 0; i < n; ++i) store_sample<T>(to + i * step, static_cast<S>(values[i]));
    }
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
      blend_line<T>(channel, base.layout.channels, brightness, rays + r * view.width, view.width,
                    base_row(base, view, y0 + r), out_row(out, view, y0 + r));
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
