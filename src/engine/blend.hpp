// Laying summed rays over the image: a screen-like blend whose strength is the brightness.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "engine/pixels.hpp"

namespace orvex {

// How much of full intensity a value takes: all of it where brightness x rays reaches 50.
inline double blend_factor(double brightness, double rays) {
  return std::min(std::max(brightness * rays / 50, 0.0), 1.0);  // in a form the vector units take
}

inline double blend_value(double brightness, double base, double rays) {
  const double a = blend_factor(brightness, rays);
  return (1 - a) * base + a;
}

// Summed rays: one row-major plane per colour channel.
using RayPlanes = std::vector<LargeVector<double>>;

// Blends the summed rays of `area` (planes[c]: area.height rows of area.width values of colour
// c) over `base` (the whole layer) into `out`, which holds the pixels of `out_area`, a rectangle
// around `area`. Where no ray adds anything the sample is copied, bit for bit; alpha always is.
void blend_area(double brightness, const RayPlanes& planes, const Rect& area, const ConstPixels& base,
                const MutablePixels& out, const Rect& out_area);

// Blends one colour channel's rays over that channel of rows first .. first + count - 1 of `pixels`,
// in place, with the same bits as blend_area; the other channels stay as they are. Row y's rays
// start at rays + y * rays_stride.
void blend_channel(double brightness, int channel, const double* rays, std::int64_t rays_stride,
                   std::int64_t first, std::int64_t count, const MutablePixels& pixels);

}  // namespace orvex
