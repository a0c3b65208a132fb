// Generated photo-like test images for benchmarks: a dark, noisy scene with a given
// share of bright pixels.
#pragma once

#include <cstdint>
#include <vector>

namespace orvex_bench {

// `bright_share` of the pixels get channel values at or above `bright_level`
// (independently per channel); the rest stay below it.
std::vector<std::uint8_t> scattered_lights(std::int64_t width, std::int64_t height, int bpp,
                                           double bright_share, int bright_level,
                                           unsigned seed = 1);

}  // namespace orvex_bench
