// Stamping the rays of every source pixel into per-channel accumulation planes.
//
// Work is split by *destination* rows: each task owns a band of accumulation rows
// (and a band of rows of a transposed plane for steep rays) and gathers every
// contribution that lands there. Each element thus has exactly one writer, which
// makes the result independent of scheduling and needs no locks or atomics.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "plugin/filter_settings.hpp"
#include "render/engine/bands.hpp"
#include "render/engine/channel_planes.hpp"
#include "render/engine/ray_path.hpp"

namespace orvex {

// A path turned so that its major offset (one step per point) runs along plane rows.
// Points with equal minor offset form a run of consecutive major offsets.
struct OrientedPath {
  struct Run {
    std::int64_t minor;
    std::int64_t first;  // major offsets first..last (inclusive)
    std::int64_t last;
  };
  std::vector<double> weights;  // indexed by major offset
  std::vector<Run> runs;
};

enum class PathOrientation { along_rows, along_columns };

PathOrientation orientation_of(const RayPath& path);
OrientedPath orient_path(const RayPath& path);

// Weights below this add less than 1e-10 to any pixel even when thousands of
// sources line up, far below what a byte can show.
inline constexpr double kNegligibleWeight = 1e-15;

// Drops the far end of a path where every weight is negligible (the Gaussian
// envelopes make most of a long ray's tail vanish).
void trim_negligible_tail(OrientedPath& path, double negligible = kNegligibleWeight);

// Source pixels of one channel grouped by plane row (compressed sparse rows).
struct SourceList {
  std::vector<std::int64_t> row_start;  // size rows + 1
  std::vector<std::int32_t> position;   // column within the row
  std::vector<double> value;            // already limited to (0, 1]
  std::int64_t size() const { return static_cast<std::int64_t>(value.size()); }
};

struct ChannelStampPlan {
  int slot_count = 0;
  std::vector<OrientedPath> row_paths;     // shallow rays, stamped into the accumulation plane
  std::vector<OrientedPath> column_paths;  // steep rays, stamped into the transposed plane
  SourceList by_row;
  SourceList by_column;  // only filled when there are column paths
};

struct BandTask {
  int channel;
  RowRange rows;     // accumulation rows this task owns
  RowRange columns;  // transposed-plane rows (image columns) this task owns
};

struct RenderJob {
  std::int64_t width = 0;
  std::int64_t height = 0;
  std::vector<ChannelStampPlan> plans;  // one per colour channel
  ChannelPlanes* accumulation = nullptr;
  ChannelPlanes* transposed = nullptr;  // width rows of height values per channel
};

// Called once per finished task, serialised, with the fraction of tasks done.
using ProgressCallback = std::function<void(double fraction)>;

// The threshold in plane units: 0..255 map to 0..1, 256..511 to 1/255..256/255.
double threshold_level(std::int32_t threshold);

// The value tested against the threshold for pixel i of the given channel.
double test_value(const ChannelPlanes& source, int bpp, int threshold_type, int channel,
                  std::int64_t i);

SourceList collect_sources(const ChannelPlanes& source, int bpp, const FilterSettings& settings,
                           int channel, int thread_count = 1);
SourceList transpose_sources(const SourceList& by_row, std::int64_t width, std::int64_t height);

void stamp_band(const BandTask& task, const RenderJob& job);

// Adds the transposed plane into the accumulation plane of the same channel.
void fold_transposed(std::span<const double> transposed, std::span<double> accumulation,
                     std::int64_t width, std::int64_t height, int thread_count = 1);

enum class StampMethod {
  automatic,    // whichever a cost model expects to be faster, per channel
  direct,       // ray by ray
  convolution,  // FFT convolution with the channel's line kernel
};

struct StampOptions {
  int thread_count = 1;
  ProgressCallback progress;  // may be empty
  StampMethod method = StampMethod::automatic;
};

// Builds the plans and runs every band of every colour channel on a pool of
// thread_count workers. Returns the accumulation planes of the colour channels.
// Takes the source planes over and releases them as soon as the sources are collected.
ChannelPlanes accumulate_rays(const FilterSettings& settings, ChannelPlanes source, int bpp,
                              const std::vector<RayPathSet>& paths, const StampOptions& options);

}  // namespace orvex
