#include "plain_stamping.hpp"

#include <algorithm>

namespace orvex_testing {

using namespace orvex;

namespace {

double tested_value(const FilterSettings& s, const ChannelPlanes& src, int bpp, int c, std::int64_t i) {
  if (bpp >= 3 && s.threshold_type == 1) return (src.plane(1)[i] + src.plane(0)[i] + src.plane(2)[i]) / 3;
  if (bpp >= 3 && s.threshold_type == 2)
    return src.plane(1)[i] * 0.587 + src.plane(0)[i] * 0.299 + src.plane(2)[i] * 0.114;
  return src.plane(c)[i];
}

void add(ChannelPlanes& acc, int c, std::int64_t x, std::int64_t y, double w) {
  if (x >= 0 && x < acc.width && y >= 0 && y < acc.height) acc.plane(c)[y * acc.width + x] += w;
}

}  // namespace

ChannelPlanes plain_accumulation(const FilterSettings& s, const ChannelPlanes& src, int bpp,
                                 const std::vector<RayPathSet>& paths) {
  const int colours = colour_count(bpp);
  ChannelPlanes acc = alloc_planes(colours, src.width, src.height);
  double t = s.threshold / 255.0;
  if (t > 1.0) t -= 1.0;
  for (int c = 0; c < colours; ++c)
    for (std::int64_t y = 0; y < src.height; ++y)
      for (std::int64_t x = 0; x < src.width; ++x) {
        const std::int64_t i = y * src.width + x;
        // The averages of white fall one ulp short of 1.
        if (!(tested_value(s, src, bpp, c, i) >= t - 1e-12)) continue;
        const double value = std::min(src.plane(c)[i], 1.0);
        if (!(value > 0)) continue;
        for (int slot = 0; slot < s.line_type; ++slot) {
          add(acc, c, x, y, value);
          for (const RayPoint& p : *paths[c].slots[slot]) {
            add(acc, c, x + p.dx, y + p.dy, p.weight * value);
            add(acc, c, x - p.dx, y - p.dy, p.weight * value);
          }
        }
      }
  return acc;
}

}  // namespace orvex_testing
