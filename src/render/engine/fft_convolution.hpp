// Accumulating one channel as a convolution of its sources with its line kernel.
//
// Every source adds the same pattern (its paths, mirrored, plus the source pixel
// itself) scaled by its value, so the accumulation is a 2-D convolution. With many
// sources that is far cheaper through FFTs than stamping ray by ray.
#pragma once

#include <cstdint>
#include <span>

#include "render/engine/stamping.hpp"

namespace orvex {

struct ConvolutionSize {
  std::int64_t width;   // padded transform width
  std::int64_t height;  // padded transform height
};

// The largest offsets a plan's kernel reaches.
struct KernelReach {
  std::int64_t dx;
  std::int64_t dy;
};

KernelReach kernel_reach(const ChannelStampPlan& plan);

// The smallest transform size with only small prime factors that avoids wrap-around.
ConvolutionSize convolution_size(std::int64_t width, std::int64_t height, KernelReach reach);

// Estimated seconds-per-core cost units of both methods, for choosing between them.
double direct_cost(const ChannelStampPlan& plan);
double convolution_cost(std::int64_t width, std::int64_t height, const ChannelStampPlan& plan);

// Adds the channel's rays into `accumulation` (width x height, row-major).
void convolve_channel(const ChannelStampPlan& plan, std::int64_t width, std::int64_t height,
                      int thread_count, std::span<double> accumulation);

}  // namespace orvex
