// The ray paths of one colour channel, cut into runs that can be added along memory.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/filter_settings.hpp"
#include "engine/ray_path.hpp"

namespace orvex {

// A path turned so that its major offset (one step per point) runs along a line of pixels:
// shallow paths along image rows, steep ones along image columns. Points with equal minor
// offset form a run of consecutive major offsets; run j has minor offset j * minor_step.
struct OrientedPath {
  struct Run {
    std::int64_t minor;
    std::int64_t first;  // major offsets first..last (inclusive)
    std::int64_t last;
  };
  std::vector<double> weights;           // indexed by major offset
  std::vector<double> reversed_weights;  // the same, last first: mirrored halves add forwards
  std::vector<Run> runs;
  std::vector<std::int32_t> run_at;  // the run of each major offset
  int minor_step = 1;                // +1 or -1
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

struct ChannelRays {
  int slot_count = 0;                      // directions; each adds the source's value at itself
  std::vector<OrientedPath> row_paths;     // shallow directions
  std::vector<OrientedPath> column_paths;  // steep directions
};

// The profile, paths and runs of every colour channel of a width x height layer.
std::vector<ChannelRays> build_channel_rays(const ClampedSettings& settings, std::int64_t width,
                                            std::int64_t height, int colours);

}  // namespace orvex
