#include "plain_render.hpp"

#include <algorithm>

#include "engine/blend.hpp"
#include "engine/ray_path.hpp"
#include "engine/ray_profile.hpp"
#include "engine/sources.hpp"

namespace orvex_testing {

using namespace orvex;

Planes plain_accumulation(const ClampedSettings& settings, const ConstPixels& layer) {
  const FilterSettings& s = settings.values();
  const PixelLayout& l = layer.layout;
  const auto value = [&](std::int64_t i, int c) {
    return unit_value(l.type, layer.bytes.data() + i * l.pixel_bytes() + c * sample_bytes(l.type));
  };
  const double level = threshold_level(s.threshold) - 1e-12;  // white's averages fall an ulp short
  const int colours = colour_count(l.channels);
  Planes acc(colours, LargeVector<double>(static_cast<std::size_t>(l.pixel_count())));
  for (int c = 0; c < colours; ++c) {
    const RayProfile profile = build_ray_profile(l.width, l.height, 0.0, profile_shape(s, c));
    std::vector<RayPath> paths;
    for (double angle : slot_angles(s.line_type, s.angle))
      paths.push_back(trace_ray_path(l.width, l.height, angle, profile));
    for (std::int64_t i = 0; i < l.pixel_count(); ++i) {
      double tested = value(i, c);
      if (colours == 3 && s.threshold_type == 1) tested = (value(i, 1) + value(i, 0) + value(i, 2)) / 3;
      if (colours == 3 && s.threshold_type == 2)
        tested = value(i, 1) * 0.587 + value(i, 0) * 0.299 + value(i, 2) * 0.114;
      const double v = std::min(value(i, c), 1.0);
      if (!(tested >= level) || !(v > 0)) continue;
      for (const RayPath& path : paths) {
        acc[c][i] += v;
        for (const RayPoint& p : path)
          for (const int side : {1, -1}) {
            const std::int64_t x = i % l.width + side * p.dx, y = i / l.width + side * p.dy;
            if (x >= 0 && x < l.width && y >= 0 && y < l.height) acc[c][y * l.width + x] += p.weight * v;
          }
      }
    }
  }
  return acc;
}

PixelBuffer plain_render(const ClampedSettings& settings, const ConstPixels& layer) {
  const Planes acc = plain_accumulation(settings, layer);
  PixelBuffer out(layer.layout);
  std::copy(layer.bytes.begin(), layer.bytes.end(), out.bytes.begin());
  const Rect whole{0, 0, layer.layout.width, layer.layout.height};
  blend_area(settings->brightness, acc, whole, layer, out.view(), whole);
  return out;
}

}  // namespace orvex_testing
