#include "reference_render.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace orvex_reference {

namespace {

constexpr double kPi = 3.141592653589793;

double radians(double degrees) { return kPi / (180 / degrees); }

// Red, green and blue ring at 1, 1 + dephasing / 100 and 1 + dephasing / 50 times the distance.
double channel_phase(const Settings& s, int channel) {
  if (channel == 1) return s.s_dephasing / 100 + 1;
  if (channel == 2) return s.s_dephasing / 50 + 1;
  return 1.0;
}

std::vector<double> profile_table(const Settings& s, int width, int height, int channel) {
  std::vector<double> table(4 * static_cast<std::size_t>(std::max(width, height)));
  for (std::size_t i = 0; i < table.size(); ++i)
    table[i] = ray_intensity(s, static_cast<double>(i / 2), channel_phase(s, channel));
  return table;
}

std::vector<double> slot_angles(const Settings& s) {
  switch (s.line_type) {
    case 1: return {s.angle};
    case 2: return {s.angle, s.angle + 90};
    case 3: return {s.angle, s.angle + 60, s.angle + 120};
    case 4: return {s.angle, s.angle + 45, s.angle + 90, s.angle + 135};
    default: return {};
  }
}

// The value compared with the threshold; the averages of white fall a rounding short of 1.0,
// and white must stay a source under every threshold type.
bool is_source(const Settings& s, const Image& image, const std::vector<std::vector<double>>& source, int channel,
               std::size_t i) {
  double tested = source[static_cast<std::size_t>(channel)][i];
  if (image.channels >= 3 && s.threshold_type == 1) tested = (source[1][i] + source[0][i] + source[2][i]) / 3;
  if (image.channels >= 3 && s.threshold_type == 2)
    tested = source[1][i] * 0.587 + source[0][i] * 0.299 + source[2][i] * 0.114;
  double level = s.threshold / 255.0;
  if (level > 1.0) level -= 1.0;
  return tested + 1e-12 >= level;
}

void add(std::vector<double>& plane, const Image& image, int x, int y, double value) {
  if (x >= 0 && y >= 0 && x < image.width && y < image.height)
    plane[static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width) + static_cast<std::size_t>(x)] += value;
}

void stamp(std::vector<double>& plane, const Image& image, int x, int y, double value,
           const std::vector<PathPoint>& path) {
  if (value <= 0) return;
  value = std::min(value, 1.0);
  add(plane, image, x, y, value);
  for (const PathPoint& point : path) {
    add(plane, image, x + point.dx, y + point.dy, point.weight * value);
    add(plane, image, x - point.dx, y - point.dy, point.weight * value);
  }
}

}  // namespace

double ray_intensity(const Settings& s, double r, double phase) {
  if (r == 0) return 1.0;
  const double d0 = s.h0_density / 200, d1 = s.h1_density / 200, ds = s.s_density / 200;
  const double h0 = d0 > 0 ? std::exp(-(std::pow(r, 2) / std::pow(s.h0_extent, 3))) * d0 : 0;
  const double h1 = d1 > 0 ? std::exp(-(std::pow(r, 2) / std::pow(s.h1_extent, 3))) * d1 : 0;
  const double spectrum =
      ds > 0 ? std::sin(std::pow(r * phase / s.s_amp, 2)) * ds * std::exp(-(std::pow(r, 2) / std::pow(s.s_extent, 3)))
             : 0;
  return h1 + h0 + spectrum;
}

std::vector<PathPoint> ray_path(int width, int height, double angle, const std::vector<double>& profile) {
  while (angle >= 180) angle -= 180;
  if (angle > 90) angle -= 180;
  const bool shallow = angle >= -45 && angle <= 45;
  const double d = std::fabs(angle);
  double slope = 0;
  if (angle != 0 && angle != 90) slope = std::tan(radians(shallow ? d : 90 - d));
  const double rho = d == 0 ? 0 : radians(d);
  std::vector<PathPoint> path;
  int dx = 0, dy = 0;
  double error = 0, weight = 1.0;
  if (width <= 0) return path;
  while (std::abs(dy) < height) {
    path.push_back({dx, dy, weight});
    const double along = shallow ? dx / std::cos(rho) : dy / std::sin(rho);
    const auto k = static_cast<std::size_t>(along);
    const double f = along - std::floor(along);
    weight = (1 - f) * profile[2 * k + 1] + f * profile[2 * k];
    int& major = shallow ? dx : dy;
    int& minor = shallow ? dy : dx;
    ++major;
    error += angle > 0 ? slope : -slope;
    const int rounded = static_cast<int>(std::floor(error + 0.5));
    if (angle > 0 && rounded > minor) ++minor;
    if (angle <= 0 && rounded < minor) --minor;
    if (std::abs(dx) >= width) break;
  }
  return path;
}

Image render(const Settings& s, const Image& image) {
  const int colours = image.channels % 2 == 0 ? image.channels - 1 : image.channels;
  const std::size_t pixels = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
  std::vector<std::vector<double>> source(static_cast<std::size_t>(image.channels), std::vector<double>(pixels));
  for (std::size_t i = 0; i < pixels; ++i)
    for (int c = 0; c < image.channels; ++c)
      source[static_cast<std::size_t>(c)][i] = image.bytes[i * static_cast<std::size_t>(image.channels) + c] / 255.0;

  Image out = image;
  for (int c = 0; c < colours; ++c) {
    std::vector<std::vector<PathPoint>> paths;
    const std::vector<double> profile = profile_table(s, image.width, image.height, c);
    for (const double angle : slot_angles(s)) paths.push_back(ray_path(image.width, image.height, angle, profile));
    std::vector<double> rays(pixels);
    for (std::size_t i = 0; i < pixels; ++i) {
      if (!is_source(s, image, source, c, i)) continue;
      const int x = static_cast<int>(i % static_cast<std::size_t>(image.width));
      const int y = static_cast<int>(i / static_cast<std::size_t>(image.width));
      for (const std::vector<PathPoint>& path : paths) stamp(rays, image, x, y, source[static_cast<std::size_t>(c)][i], path);
    }
    // A screen-like blend, full intensity where brightness x rays reaches 50; bytes truncated.
    for (std::size_t i = 0; i < pixels; ++i) {
      const double a = std::clamp(s.brightness * rays[i] / 50, 0.0, 1.0);
      const double v = std::clamp(((1 - a) * source[static_cast<std::size_t>(c)][i] + a) * 255, 0.0, 255.0);
      out.bytes[i * static_cast<std::size_t>(image.channels) + c] = static_cast<std::uint8_t>(v);
    }
  }
  return out;
}

}  // namespace orvex_reference
