#include "test_images.hpp"

#include <algorithm>
#include <random>

namespace orvex_bench {

using namespace orvex;

PixelBuffer scattered_lights(std::int64_t width, std::int64_t height, int channels, double bright_share,
                             int bright_level, SampleType type, unsigned seed) {
  PixelBuffer pixels(PixelLayout{width, height, channels, type});
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> unit(0, 1);
  // Like a night photo made with ImageMagick's "u>0.99?1:u*0.7": the dark part stays below 0.7.
  std::uniform_int_distribution<int> dark(0, std::min(bright_level - 1, 178));
  std::uniform_int_distribution<int> bright(bright_level, 255);
  const std::int64_t samples = pixels.layout.pixel_count() * channels;
  with_sample_type(type, [&]<SampleType T>() {
    for (std::int64_t i = 0; i < samples; ++i) {
      const double v = (unit(rng) < bright_share ? bright(rng) : dark(rng)) / 255.0;
      store_sample<T>(pixels.bytes.data() + i * sample_bytes(T), Sample<T>::from_unit(v));
    }
  });
  return pixels;
}

}  // namespace orvex_bench
