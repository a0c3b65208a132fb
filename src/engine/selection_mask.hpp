// A selection held as GIMP holds it: one integer sample a pixel, of the image's bit depth
// (0 unselected, `full` wholly selected), shrunk and feathered by GIMP's own rules.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/large_allocator.hpp"
#include "engine/pixels.hpp"

namespace orvex {

struct SelectionMask {
  std::int64_t width = 0;
  std::int64_t height = 0;
  std::uint16_t full = 255;  // 255 in 8-bit images, 65535 in 16-bit ones
  LargeVector<std::uint16_t> values;

  SelectionMask(std::int64_t w, std::int64_t h, std::uint16_t full_value)
      : width(w), height(h), full(full_value), values(static_cast<std::size_t>(w * h)) {}
  std::uint16_t* row(std::int64_t y) { return values.data() + y * width; }
  const std::uint16_t* row(std::int64_t y) const { return values.data() + y * width; }
};

// The smallest rectangle holding every selected pixel; empty when none is.
Rect selected_bounds(const SelectionMask& mask);

// Takes `steps` pixels off every edge of the selection, the canvas's edges included, with
// GIMP's round brush: a pixel keeps the least value found under the brush centred on it.
void shrink_selection(SelectionMask& mask, int steps, int threads);

// Softens the selection's edges by a Gaussian of the given radius, as GIMP feathers (the
// canvas's edge pixels repeated beyond it).
void feather_selection(SelectionMask& mask, double radius, int threads);

}  // namespace orvex
