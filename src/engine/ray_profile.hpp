// Ray intensity against distance from the source, tabulated per colour channel.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/filter_settings.hpp"

namespace orvex {

struct ProfileShape {
  double h0_density;
  double h0_extent;
  double h1_density;
  double h1_extent;
  double s_density;
  double s_extent;
  double s_amp;
  double phase;
};

// Entries come in identical pairs: values[2k] == values[2k+1] == intensity at k / scale.
struct RayProfile {
  std::vector<double> values;
  std::int64_t steps = 2;

  std::int64_t count() const { return static_cast<std::int64_t>(values.size()); }
};

double ray_intensity(double amplitude, double distance, const ProfileShape& shape);

RayProfile build_ray_profile(std::int64_t width, std::int64_t height, double scale,
                             const ProfileShape& shape);

// The spectrum phase factor of a colour channel: red 1, green and blue shifted
// by the dephasing setting so that their rays ring at other distances.
double channel_phase(int channel, double s_dephasing);

// The formula's arguments as the settings give them for one colour channel.
ProfileShape profile_shape(const FilterSettings& settings, int channel);

}  // namespace orvex
