// Pixel offsets (with profile weights) that one ray direction covers from its source outwards.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "render/engine/ray_profile.hpp"

namespace orvex {

struct RayPoint {
  std::int32_t dx;
  std::int32_t dy;
  double weight;
};

using RayPath = std::vector<RayPoint>;

// The directions of one colour channel; unused slots stay empty.
struct RayPathSet {
  std::array<std::optional<RayPath>, 4> slots;
};

RayPath trace_ray_path(std::int64_t width, std::int64_t height, double angle,
                       const RayProfile& profile);

// Slot angles for a line type: the angle, then the others spread evenly over a half-turn.
std::vector<double> slot_angles(int line_type, double angle);

RayPathSet build_path_set(std::int64_t width, std::int64_t height, int line_type, double angle,
                          const RayProfile& profile);

}  // namespace orvex
