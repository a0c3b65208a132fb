// The filter written down again from its formulas alone, for the tests: it shares no code with the
// engine, so that a wrong number in one of the engine's formulas cannot hide behind the same number
// here. Plain and slow: 8-bit pixels, small images, thresholds up to 254, no selection.
#pragma once

#include <cstdint>
#include <vector>

namespace orvex_reference {

struct Settings {
  double brightness = 50;
  int threshold = 250;
  int threshold_type = 0;
  double angle = 0;
  int line_type = 2;
  double h0_density = 100;
  double h0_extent = 7;
  double h1_density = 0;
  double h1_extent = 7;
  double s_density = 25;
  double s_extent = 25;
  double s_amp = 50;
  double s_dephasing = 20;
};

struct Image {
  int width;
  int height;
  int channels;  // 1 gray, 2 gray and alpha, 3 RGB, 4 RGBA
  std::vector<std::uint8_t> bytes;  // interleaved, row by row
};

// The intensity of a ray `distance` pixels from its source, with the channel's spectrum phase.
double ray_intensity(const Settings& s, double distance, double phase);

struct PathPoint {
  int dx;
  int dy;
  double weight;
};

// One half of a line through a source in a `width` x `height` image, weighted by `profile`
// (entry i: the intensity at distance i / 2, rounded down).
std::vector<PathPoint> ray_path(int width, int height, double angle, const std::vector<double>& profile);

Image render(const Settings& s, const Image& image);

}  // namespace orvex_reference
