#include "test_images.hpp"

#include <random>

namespace orvex_bench {

std::vector<std::uint8_t> scattered_lights(std::int64_t width, std::int64_t height, int bpp,
                                           double bright_share, int bright_level, unsigned seed) {
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width * height * bpp));
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> unit(0, 1);
  std::uniform_int_distribution<int> dark(0, bright_level - 1);
  std::uniform_int_distribution<int> bright(bright_level, 255);
  for (auto& byte : pixels)
    byte = static_cast<std::uint8_t>(unit(rng) < bright_share ? bright(rng) : dark(rng));
  return pixels;
}

}  // namespace orvex_bench
