#include "engine/blend.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>
#include <stdexcept>
#include <type_traits>
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
// for the vector units. Integer samples become unit values first (a byte b is b / 255).
constexpr std::int64_t kChunkPixels = 128;
constexpr std::int64_t kChunkSamples = kChunkPixels * 4;

template <typename S>
inline void widen_samples(const S* __restrict samples, double* __restrict values, std::int64_t count) {
  for (std::int64_t i = 0; i < count; ++i) values[i] = static_cast<double>(samples[i]);
}

typedef double Quad __attribute__((vector_size(4 * sizeof(double))));

// By reference: a vector in a register is not part of the portable calling convention.
inline void load_quad(Quad& q, const double* from) { __builtin_memcpy(&q, from, sizeof q); }

// std::min(std::max(v, low), high), lane by lane, with the same result for -0 and NaN.
inline void clamp_quad(Quad& v, const Quad& low, const Quad& high) {
  v = v < low ? low : v;
  v = high < v ? high : v;
}

// At most a chunk of unit values in `units` become the blended samples: (1 - a) * u + a, a the
// blend factor of the rays, scaled to the sample's range, kept within it and truncated. Where no
// ray adds anything a sample comes back exactly. Mixed first, then narrowed: each loop in the
// form the vector units take. Samples are read and written where they lie, at any alignment.
template <typename S>
[[gnu::always_inline]] inline void mix_integer_samples(const double* __restrict units, const double* __restrict rays,
                                                       std::int64_t count, double brightness, double scale,
                                                       double offset, std::byte* __restrict samples) {
  double mixed[kChunkSamples];
  const Quad zero{}, one = zero + 1, range = zero + scale;
  const std::int64_t whole = count / 4 * 4;
  for (std::int64_t i = 0; i < whole; i += 4) {
    Quad u, r;
    load_quad(u, units + i);
    load_quad(r, rays + i);
    Quad a = brightness * r / 50;
    clamp_quad(a, zero, one);
    Quad v = ((1 - a) * u + a) * scale + offset;
    clamp_quad(v, zero, range);
    __builtin_memcpy(mixed + i, &v, sizeof v);
  }
  for (std::int64_t i = 0; i < whole; ++i) {
    const auto sample = static_cast<S>(static_cast<std::int32_t>(mixed[i]));
    std::memcpy(samples + i * sizeof(S), &sample, sizeof sample);
  }
  for (std::int64_t i = whole; i < count; ++i) {
    const double a = blend_factor(brightness, rays[i]);
    const double v = ((1 - a) * units[i] + a) * scale + offset;
    const auto sample = static_cast<S>(std::min(std::max(v, 0.0), scale));
    std::memcpy(samples + i * sizeof(S), &sample, sizeof sample);
  }
}

// Float samples that no ray reaches keep their bits (-0 and NaN stay as they are). Light only
// adds: the mix would pull a sample above 1.0 (scene-linear, HDR) down towards 1.0 and turn an
// infinite one into NaN at full strength, so those keep their value too.
template <typename S>
inline void mix_float_samples(const double* __restrict values, const double* __restrict rays, std::int64_t count,
                              double brightness, S* __restrict samples) {
  constexpr double lowest = std::numeric_limits<double>::lowest();
  for (std::int64_t i = 0; i < count; ++i) {
    const double v = values[i];
    const double a = blend_factor(brightness, rays[i]);
    const S mixed = static_cast<S>((1 - a) * v + a);
    samples[i] = a > 0 && v <= 1 && v >= lowest ? mixed : samples[i];
  }
}

// Integer samples, read where they lie, as unit values.
template <SampleType T>
[[gnu::always_inline]] inline void widen_to_units(const std::byte* __restrict samples, double* __restrict units,
                                                  std::int64_t count) {
  for (std::int64_t i = 0; i < count; ++i) units[i] = Sample<T>::unit(load_sample<T>(samples + i * sample_bytes(T)));
}

// One version per sample type: not every compiler makes vector versions of templates.
ORVEX_VECTOR_VERSIONS void widen(std::type_identity<std::uint8_t>, const std::byte* __restrict samples,
                                 double* __restrict units, std::int64_t count) {
  widen_to_units<SampleType::u8>(samples, units, count);
}
ORVEX_VECTOR_VERSIONS void widen(std::type_identity<std::uint16_t>, const std::byte* __restrict samples,
                                 double* __restrict units, std::int64_t count) {
  widen_to_units<SampleType::u16>(samples, units, count);
}
ORVEX_VECTOR_VERSIONS void widen(const float* samples, double* values, std::int64_t count) {
  widen_samples(samples, values, count);
}
void widen(const double* samples, double* values, std::int64_t count) { widen_samples(samples, values, count); }

ORVEX_VECTOR_VERSIONS void mix(std::type_identity<std::uint8_t>, const double* units, const double* rays,
                               std::int64_t count, double brightness, std::byte* samples) {
  mix_integer_samples<std::uint8_t>(units, rays, count, brightness, 255.0, 0.0, samples);
}
ORVEX_VECTOR_VERSIONS void mix(std::type_identity<std::uint16_t>, const double* units, const double* rays,
                               std::int64_t count, double brightness, std::byte* samples) {
  mix_integer_samples<std::uint16_t>(units, rays, count, brightness, 65535.0, 0.5, samples);
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
  constexpr int colours = colour_count(channels);
  constexpr bool integer = T == SampleType::u8 || T == SampleType::u16;
  double values[kChunkSamples];
  double sample_rays[kChunkSamples];
  for (std::int64_t x0 = 0; x0 < width; x0 += kChunkPixels) {
    const std::int64_t n = std::min(kChunkPixels, width - x0);
    const std::int64_t count = n * channels;
    const std::int64_t at = x0 * channels * static_cast<std::int64_t>(sizeof(S));
    for (std::int64_t i = 0; i < n; ++i)
      for (int c = 0; c < channels; ++c)
        sample_rays[i * channels + c] = c < colours ? rays[static_cast<std::size_t>(c)][offset + x0 + i] : 0.0;
    if constexpr (integer) {
      // All of a chunk is read before any of it is written: `out` may be `base`.
      widen(std::type_identity<S>{}, base + at, values, count);
      mix(std::type_identity<S>{}, values, sample_rays, count, brightness, out + at);
    } else {
      S samples[kChunkSamples];
      std::memcpy(samples, base + at, static_cast<std::size_t>(count) * sizeof(S));
      widen(samples, values, count);
      mix(values, sample_rays, count, brightness, samples);
      std::memcpy(out + at, samples, static_cast<std::size_t>(count) * sizeof(S));
    }
  }
}

// One channel of a row, gathered into a chunk of its own, mixed as blend_line mixes it, put back.
template <SampleType T>
void blend_channel_line(double brightness, int channel, int channels, const double* rays, std::int64_t width,
                        std::byte* pixels) {
  using S = typename Sample<T>::type;
  constexpr bool integer = T == SampleType::u8 || T == SampleType::u16;
  S samples[kChunkPixels];
  double values[kChunkPixels];
  for (std::int64_t x0 = 0; x0 < width; x0 += kChunkPixels) {
    const std::int64_t n = std::min(kChunkPixels, width - x0);
    for (std::int64_t i = 0; i < n; ++i)
      std::memcpy(&samples[i], pixels + ((x0 + i) * channels + channel) * std::int64_t{sizeof(S)}, sizeof(S));
    if constexpr (integer) {
      widen(std::type_identity<S>{}, reinterpret_cast<const std::byte*>(samples), values, n);
      mix(std::type_identity<S>{}, values, rays + x0, n, brightness, reinterpret_cast<std::byte*>(samples));
    } else {
      widen(samples, values, n);
      mix(values, rays + x0, n, brightness, samples);
    }
    for (std::int64_t i = 0; i < n; ++i)
      std::memcpy(pixels + ((x0 + i) * channels + channel) * std::int64_t{sizeof(S)}, &samples[i], sizeof(S));
  }
}

}  // namespace

void blend_channel(double brightness, int channel, const double* rays, std::int64_t rays_stride,
                   std::int64_t first, std::int64_t count, const MutablePixels& pixels) {
  const PixelLayout& layout = pixels.layout;
  if (channel < 0 || channel >= colour_count(layout.channels))
    throw std::invalid_argument("no such colour channel");
  with_sample_type(layout.type, [&]<SampleType T>() {
    for (std::int64_t y = first; y < first + count; ++y)
      blend_channel_line<T>(brightness, channel, layout.channels, rays + y * rays_stride, layout.width,
                            pixels.bytes.data() + y * layout.row_bytes());
  });
}

void blend_area(double brightness, const RayPlanes& planes, const Rect& area, const ConstPixels& base,
                const MutablePixels& out, const Rect& out_area) {
  if (static_cast<int>(planes.size()) != colour_count(base.layout.channels))
    throw std::invalid_argument("one plane of rays per colour channel");
  std::vector<const double*> rays;
  for (const LargeVector<double>& plane : planes) rays.push_back(plane.data());
  with_sample_type(base.layout.type, [&]<SampleType T>() {
    with_channel_count(base.layout.channels, [&]<int channels>() {
      for (std::int64_t r = 0; r < area.height; ++r)
        blend_line<T, channels>(
            brightness, rays, r * area.width, area.width,
            base.bytes.data() + (area.y + r) * base.layout.row_bytes() + area.x * base.layout.pixel_bytes(),
            out.bytes.data() + (area.y + r - out_area.y) * out.layout.row_bytes() +
                (area.x - out_area.x) * out.layout.pixel_bytes());
    });
  });
}

}  // namespace orvex
