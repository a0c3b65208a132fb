// Accumulating one channel as a convolution of its sources with its line kernel.
//
// Every source adds the same pattern (its paths, mirrored, plus the source pixel
// itself) scaled by its value, so the accumulation is a 2-D convolution. With many
// sources that is far cheaper through FFTs than stamping ray by ray.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
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

// Frees memory from fftw_malloc.
struct FftwMemoryFree {
  void operator()(double* values) const noexcept;
};

// A channel's whole accumulation, left in the transforms' own memory: row y of the layer starts
// at row(y), rows `stride` doubles apart.
struct ConvolvedPlane {
  std::unique_ptr<double[], FftwMemoryFree> values;
  std::int64_t stride = 0;
  std::int64_t capacity = 0;  // doubles allocated
  bool empty() const { return !values; }
  const double* row(std::int64_t y) const { return values.get() + y * stride; }
};

// The channel's whole accumulation (width x height), the sources' own values included.
// The transforms run as many small tasks: `cancel` stops them between two (throwing Cancelled), and
// `progress` gets the share done on the calling thread. The same bits whatever the thread count.
// `reused`, if large enough, holds the result instead of fresh memory (page faults cost); once the
// sources are no longer read, `sources_read` is called (their owner may let them go).
ConvolvedPlane convolve_channel(const ChannelRays& rays, const SourceList& sources, std::int64_t width,
                                std::int64_t height, int thread_count, const std::atomic<bool>* cancel = nullptr,
                                const std::function<void(double fraction)>& progress = {},
                                ConvolvedPlane reused = {}, const std::function<void()>& sources_read = {});

}  // namespace orvex
