#include "engine/ray_profile.hpp"

#include <algorithm>
#include <cmath>

namespace orvex {

double ray_intensity(double amplitude, double distance, const ProfileShape& p) {
  const double r = distance;
  if (r == 0.0) return amplitude;
  // Kept in this exact order of operations so that tables are reproducible.
  double t0 = 0.0;
  if (p.h0_density > 0) t0 = std::exp(-(std::pow(r, 2) / p.h0_extent)) * amplitude * p.h0_density;
  double t1 = 0.0;
  if (p.h1_density > 0) t1 = std::exp(-(std::pow(r, 2) / p.h1_extent)) * amplitude * p.h1_density;
  double t2 = 0.0;
  if (p.s_density > 0)
    t2 = std::sin(std::pow((r * p.phase) / p.s_amp, 2)) * amplitude * p.s_density *
         std::exp(-(std::pow(r, 2) / p.s_extent));
  return (t1 + t0) + t2;
}

RayProfile build_ray_profile(std::int64_t width, std::int64_t height, double scale,
                             const ProfileShape& shape) {
  if (scale == 0.0) scale = 1.0;
  RayProfile profile;
  const std::int64_t count = 4 * std::max<std::int64_t>({width, height, 0});
  profile.values.resize(static_cast<std::size_t>(count));
  for (std::int64_t i = 0; i < count; i += 2) {
    const double r = static_cast<double>(i / 2) / scale;
    const double value = ray_intensity(1.0, r, shape);
    profile.values[i] = value;
    profile.values[i + 1] = value;
  }
  return profile;
}

double channel_phase(int channel, double s_dephasing) {
  switch (channel) {
    case 1: return s_dephasing / 100 + 1;
    case 2: return s_dephasing / 50 + 1;
    default: return 1.0;
  }
}

ProfileShape profile_shape(const FilterSettings& s, int channel) {
  return {s.h0_density / 200,
          std::pow(s.h0_extent, 3),
          s.h1_density / 200,
          std::pow(s.h1_extent, 3),
          s.s_density / 200,
          std::pow(s.s_extent, 3),
          s.s_amp,
          channel_phase(channel, s.s_dephasing)};
}

}  // namespace orvex
