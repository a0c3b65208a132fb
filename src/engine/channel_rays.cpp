#include "engine/channel_rays.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "engine/ray_profile.hpp"

namespace orvex {

PathOrientation orientation_of(const RayPath& path) {
  for (std::size_t n = 0; n < path.size(); ++n)
    if (path[n].dx != static_cast<std::int32_t>(n)) return PathOrientation::along_columns;
  return PathOrientation::along_rows;
}

namespace {

void index_runs(OrientedPath& path) {
  path.run_at.assign(path.weights.size(), 0);
  for (std::size_t j = 0; j < path.runs.size(); ++j)
    for (std::int64_t n = path.runs[j].first; n <= path.runs[j].last; ++n)
      path.run_at[static_cast<std::size_t>(n)] = static_cast<std::int32_t>(j);
}

}  // namespace

OrientedPath orient_path(const RayPath& path) {
  const bool rows = orientation_of(path) == PathOrientation::along_rows;
  OrientedPath oriented;
  oriented.weights.reserve(path.size());
  for (std::size_t n = 0; n < path.size(); ++n) {
    const RayPoint& p = path[n];
    if (!rows && p.dy != static_cast<std::int32_t>(n))
      throw std::logic_error("ray path advances neither by column nor by row");
    const std::int64_t minor = rows ? p.dy : p.dx;
    const auto major = static_cast<std::int64_t>(n);
    oriented.weights.push_back(p.weight);
    if (!oriented.runs.empty() && oriented.runs.back().minor == minor) {
      oriented.runs.back().last = major;
      continue;
    }
    if (oriented.runs.size() == 1) oriented.minor_step = minor > 0 ? 1 : -1;
    if (minor != static_cast<std::int64_t>(oriented.runs.size()) * oriented.minor_step)
      throw std::logic_error("ray path leaves its line by more than one step");
    oriented.runs.push_back({minor, major, major});
  }
  index_runs(oriented);
  oriented.reversed_weights.assign(oriented.weights.rbegin(), oriented.weights.rend());
  return oriented;
}

void trim_negligible_tail(OrientedPath& path, double negligible) {
  std::int64_t keep = static_cast<std::int64_t>(path.weights.size());
  while (keep > 1 && !(std::fabs(path.weights[keep - 1]) >= negligible)) --keep;
  path.weights.resize(static_cast<std::size_t>(keep));
  path.reversed_weights.assign(path.weights.rbegin(), path.weights.rend());
  while (!path.runs.empty() && path.runs.back().first >= keep) path.runs.pop_back();
  if (!path.runs.empty()) path.runs.back().last = std::min(path.runs.back().last, keep - 1);
  index_runs(path);
}

std::vector<ChannelRays> build_channel_rays(const ClampedSettings& settings, std::int64_t width,
                                            std::int64_t height, int colours) {
  const FilterSettings& s = settings.values();
  std::vector<ChannelRays> channels(static_cast<std::size_t>(colours));
  for (int c = 0; c < colours; ++c) {
    const RayProfile profile = build_ray_profile(width, height, 0.0, profile_shape(s, c));
    ChannelRays& rays = channels[static_cast<std::size_t>(c)];
    for (const double angle : slot_angles(s.line_type, s.angle)) {
      const RayPath path = trace_ray_path(width, height, angle, profile);
      ++rays.slot_count;
      auto& target = orientation_of(path) == PathOrientation::along_rows ? rays.row_paths
                                                                          : rays.column_paths;
      target.push_back(orient_path(path));
      trim_negligible_tail(target.back());
    }
  }
  return channels;
}

}  // namespace orvex
