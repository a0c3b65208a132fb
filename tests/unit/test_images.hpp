// Small generated layers for the engine's tests.
#pragma once

#include <random>

#include "engine/pixels.hpp"

namespace orvex_testing {

// Dark noise with a share of full-intensity samples, in any sample type; alpha is noise too.
inline orvex::PixelBuffer noise_layer(std::mt19937& rng, const orvex::PixelLayout& layout,
                                      double bright_share) {
  using namespace orvex;
  PixelBuffer buffer(layout);
  std::uniform_real_distribution<double> u(0, 1);
  const std::int64_t samples = layout.pixel_count() * layout.channels;
  for (std::int64_t i = 0; i < samples; ++i) {
    const double v = u(rng) < bright_share ? 1.0 : u(rng) / 3;
    std::byte* at = buffer.bytes.data() + i * sample_bytes(layout.type);
    with_sample_type(layout.type, [&]<SampleType T>() { store_sample<T>(at, Sample<T>::from_unit(v)); });
  }
  return buffer;
}

}  // namespace orvex_testing
