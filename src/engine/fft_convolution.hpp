// Accumulating one channel as a convolution of its sources with its line kernel.
//
// Every source adds the same pattern (its paths, mirrored, plus the source pixel
// itself) scaled by its value, so the accumulation is a 2-D convolution. With many
// sources that is far cheaper through FFTs than stamping ray by ray.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "engine/channel_rays.hpp"
#include "engine/sources.hpp"

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

KernelReach kernel_reach(const ChannelRays& rays);

// The smallest transform size with only small prime factors that avoids wrap-around.
ConvolutionSize convolution_size(std::int64_t width, std::int64_t height, KernelReach reach);

// Estimated seconds-per-core cost units of both methods, for choosing between them.
double direct_cost(const ChannelRays& rays, std::int64_t source_count);
double convolution_cost(std::int64_t width, std::int64_t height, const ChannelRays& rays);

// The channel's whole accumulation (width x height, row-major), the sources' own values included.
// The transforms run as many small tasks: `cancel` stops them between two (throwing Cancelled), and
// `progress` gets the share done on the calling thread. The same bits whatever the thread count.
std::vector<double> convolve_channel(const ChannelRays& rays, const SourceList& sources, std::int64_t width,
                                     std::int64_t height, int thread_count,
                                     const std::atomic<bool>* cancel = nullptr,
                                     const std::function<void(double fraction)>& progress = {});

}  // namespace orvex
