#include "engine/highlight_bounds.hpp"

#include <algorithm>

namespace orvex {

namespace {

// Select-by-colour takes colours within its threshold (15 of 255 by default) as white; this
// takes a little more, which only makes the box larger.
constexpr double kNearWhite = 0.9;

template <SampleType T>
bool candidate(const std::byte* px, int colours, bool whole_colour) {
  bool any = false;
  bool all = true;
  for (int c = 0; c < colours; ++c) {
    const double v = Sample<T>::unit(load_sample<T>(px + c * sample_bytes(T)));
    any = any || v >= 1.0;
    all = all && v >= kNearWhite;
  }
  return whole_colour ? all : any;
}

}  // namespace

Rect highlight_bounds(const ConstPixels& layer, bool whole_colour, std::int64_t margin) {
  const PixelLayout& l = layer.layout;
  std::int64_t left = l.width, top = l.height, right = -1, bottom = -1;
  with_sample_type(l.type, [&]<SampleType T>() {
    for (std::int64_t y = 0; y < l.height; ++y)
      for (std::int64_t x = 0; x < l.width; ++x) {
        if (!candidate<T>(layer.bytes.data() + (y * l.width + x) * l.pixel_bytes(), colour_count(l.channels),
                          whole_colour))
          continue;
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
  });
  if (right < 0) return {};
  left = std::max<std::int64_t>(0, left - margin);
  top = std::max<std::int64_t>(0, top - margin);
  right = std::min(l.width - 1, right + margin);
  bottom = std::min(l.height - 1, bottom + margin);
  return {left, top, right - left + 1, bottom - top + 1};
}

}  // namespace orvex
