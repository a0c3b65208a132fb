#include "engine/ray_path.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace orvex {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Degrees to radians in the exact form the tables were made with.
double radians(double degrees) { return kPi / (180 / degrees); }

double reduce_angle(double angle) {
  while (angle >= 180) angle -= 180;
  if (angle > 90) angle -= 180;
  return angle;
}

double profile_weight(const RayProfile& profile, double distance) {
  const auto k = static_cast<std::int64_t>(distance);
  const double f = distance - std::floor(distance);
  const std::int64_t last = profile.count() - 1;
  if (last < 0) return 0.0;
  const auto at = [&](std::int64_t i) { return profile.values[std::clamp<std::int64_t>(i, 0, last)]; };
  return (1 - f) * at(2 * k + 1) + f * at(2 * k);
}

}  // namespace

RayPath trace_ray_path(std::int64_t width, std::int64_t height, double angle,
                       const RayProfile& profile) {
  RayPath path;
  const double a = reduce_angle(angle);
  const bool shallow = a >= -45 && a <= 45;
  const double d = std::fabs(a);
  double slope = 0.0;
  if (a != 0 && a != 90) slope = shallow ? std::tan(radians(d)) : std::tan(radians(90 - d));
  const double rho = d == 0 ? 0.0 : radians(d);
  const double cos_rho = std::cos(rho);
  const double sin_rho = std::sin(rho);

  std::int64_t dx = 0;
  std::int64_t dy = 0;
  double e = 0.0;
  double w = 1.0;
  if (width <= 0) return path;
  path.reserve(static_cast<std::size_t>(shallow ? width : std::max<std::int64_t>(height, 0)));
  for (;;) {
    if (std::llabs(dy) >= height) break;
    path.push_back({static_cast<std::int32_t>(dx), static_cast<std::int32_t>(dy), w});
    const double l = shallow ? static_cast<double>(dx) / cos_rho : static_cast<double>(dy) / sin_rho;
    w = profile_weight(profile, l);
    std::int64_t& major = shallow ? dx : dy;
    std::int64_t& minor = shallow ? dy : dx;
    ++major;
    if (a > 0) {
      e += slope;
      if (std::floor(e + 0.5) > static_cast<double>(minor)) ++minor;
    } else {
      e -= slope;
      if (std::floor(e + 0.5) < static_cast<double>(minor)) --minor;
    }
    if (std::llabs(dx) >= width) break;
  }
  return path;
}

std::vector<double> slot_angles(int line_type, double angle) {
  switch (line_type) {
    case 1: return {angle};
    case 2: return {angle, angle + 90};
    case 3: return {angle, angle + 60, angle + 120};
    case 4: return {angle, angle + 45, angle + 90, angle + 135};
    default: return {};
  }
}

}  // namespace orvex
