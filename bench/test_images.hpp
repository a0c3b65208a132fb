// Generated photo-like test images for benchmarks: a dark, noisy scene with a given
// share of bright samples.
#pragma once

#include <cstdint>

#include "engine/pixels.hpp"

namespace orvex_bench {

// `bright_share` of the samples get values at or above `bright_level` (of 255), independently
// per channel; the rest stay below it and below 0.7. Stored in the given sample type.
orvex::PixelBuffer scattered_lights(std::int64_t width, std::int64_t height, int channels, double bright_share,
                                    int bright_level, orvex::SampleType type = orvex::SampleType::u8,
                                    unsigned seed = 1);

}  // namespace orvex_bench
