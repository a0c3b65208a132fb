#include "engine/blend.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <stdexcept>
#include <vector>

#include "engine/vector_versions.hpp"

namespace orvex {

namespace {

template <typename F>
void with_channel_count(int channels, F&& f) {
  switch (channels) {
    case 1: return f.template operator()<1>();
    case 2: return f.template operator()<2>();
    case 3: return f.template operator()<3>();
    default: return f.template operator()<4>();
  }
}

// A chunk of pixels is blended as one run of interleaved samples, each step a contiguous loop
// for the vector units.
template <typename S>
inline void widen_samples(const S* __restrict samples, double* __restrict values, std::int64_t count) {
  for (std::int64_t i = 0; i < count; ++i) values[i] = static_cast<double>(samples[i]);
}

// Raw samples in `values` (scaled by `scale`) become the blended samples, before rounding: the
// blend of value v is (1 - a) * v + a, a the blend factor of the rays. Integer samples are
// kept within their range and come back exactly where no ray adds anything (a byte b is
// b / 255 and back).
template <typename S>
inline void mix_integer_samples(const double* __restrict values, const double* __restrict rays, std::int64_t count,
                                double brightness, double scale, double offset, S* __restrict samples) {
  for (std::int64_t i = 0; i < count; ++i) {
    const double a = blend_factor(brightness, rays[i]);
    const double v = ((1 - a) * (values[i] / scale) + a) * scale + offset;
    samples[i] = static_cast<S>(std::min(std::max(v, 0.0), scale));
  }
}

// Float samples that no ray reaches keep their bits (-0 and NaN stay as they are).
template <typename S>
inline void mix_float_samples(const double* __restrict values, const double* __restrict rays, std::int64_t count,
                              double brightness, S* __restrict samples) {
  for (std::int64_t i = 0; i < count; ++i) {
    const double a = blend_factor(brightness, rays[i]);
    const S mixed = static_cast<S>((1 - a) * values[i] + a);
    samples[i] = a > 0 ? mixed : samples[i];
  }
}

// One version per sample type: not every compiler makes vector versions of templates.
ORVEX_VECTOR_VERSIONS void widen(const std::uint8_t* samples, double* values, std::int64_t count) {
  widen_samples(samples, values, count);
}
ORVEX_VECTOR_VERSIONS void widen(const std::uint16_t* samples, double* values, std::int64_t count) {
  widen_samples(samples, values, count);
}
ORVEX_VECTOR_VERSIONS void widen(const float* samples, double* values, std::int64_t count) {
  widen_samples(samples, values, count);
}
void widen(const double* samples, double* values, std::int64_t count) { widen_samples(samples, values, count); }

ORVEX_VECTOR_VERSIONS void mix(const double* values, const double* rays, std::int64_t count, double brightness,
                               std::uint8_t* samples) {
  mix_integer_samples(values, rays, count, brightness, 255.0, 0.0, samples);
}
ORVEX_VECTOR_VERSIONS void mix(const double* values, const double* rays, std::int64_t count, double brightness,
                               std::uint16_t* samples) {
  mix_integer_samples(values, rays, count, brightness, 65535.0, 0.5, samples);
}
ORVEX_VECTOR_VERSIONS void mix(const double* values, const double* rays, std::int64_t count, double brightness,
                               float* samples) {
  mix_float_samples(values, rays, count, brightness, samples);
}
ORVEX_VECTOR_VERSIONS void mix(const double* values, const double* rays, std::int64_t count, double brightness,
                               double* samples) {
  mix_float_samples(values, rays, count, brightness, samples);
}

// One row of pixels; a trailing alpha channel gets no rays, so it comes back unchanged.
template <SampleType T, int channels>
void blend_line(double brightness, std::span<const double* const> rays, std::int64_t offset, std::int64_t width,
                const std::byte* base, std::byte* out) {
  using S = typename Sample<T>::type;
  constexpr std::int64_t kChunk = 128;
  constexpr int colours = colour_count(channels);
  S samples[kChunk * 4];
  double values[kChunk * 4];
  double sample_rays[kChunk * 4];
  for (std::int64_t x0 = 0; x0 < width; x0 += kChunk) {
    const std::int64_t n = std::min(kChunk, width - x0);
    const std::int64_t count = n * channels;
    const std::int64_t at = x0 * channels * static_cast<std::int64_t>(sizeof(S));
    std::memcpy(samples, base + at, static_cast<std::size_t>(count) * sizeof(S));
    for (std::int64_t i = 0; i < n; ++i)
      for (int c = 0; c < channels; ++c)
        sample_rays[i * channels + c] = c < colours ? rays[static_cast<std::size_t>(c)][offset + x0 + i] : 0.0;
    widen(samples, values, count);
    mix(values, sample_rays, count, brightness, samples);
    std::memcpy(out + at, samples, static_cast<std::size_t>(count) * sizeof(S));
  }
}

}  // namespace

void blend_rows(double brightness, const RayPlanes& planes, const Rect& view,
                std::int64_t y0, std::int64_t rows, const ConstPixels& base, const MutablePixels& out) {
  if (static_cast<int>(planes.size()) != colour_count(base.layout.channels))
    throw std::invalid_argument("one plane of rays per colour channel");
  std::vector<const double*> rays;
  for (const LargeVector<double>& plane : planes) rays.push_back(plane.data());
  with_sample_type(base.layout.type, [&]<SampleType T>() {
    with_channel_count(base.layout.channels, [&]<int channels>() {
      for (std::int64_t r = 0; r < rows; ++r)
        blend_line<T, channels>(
            brightness, rays, r * view.width, view.width,
            base.bytes.data() + (y0 + r) * base.layout.row_bytes() + view.x * base.layout.pixel_bytes(),
            out.bytes.data() + (y0 + r - view.y) * out.layout.row_bytes());
    });
  });
}

}  // namespace orvex
