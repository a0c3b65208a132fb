// Pixel offsets (with profile weights) that one ray direction covers from its source outwards.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/ray_profile.hpp"

namespace orvex {

struct RayPoint {
  std::int32_t dx;
  std::int32_t dy;
  double weight;
};

using RayPath = std::vector<RayPoint>;

RayPath trace_ray_path(std::int64_t width, std::int64_t height, double angle,
                       const RayProfile& profile);

// Slot angles for a line type: the angle, then the others spread evenly over a half-turn.
std::vector<double> slot_angles(int line_type, double angle);

}  // namespace orvex
