// Moving pixel rectangles between the host and plain buffers.
#pragma once

#include <libgimp/gimp.h>

#include <cstdint>
#include <span>
#include <vector>

namespace orvex {

struct Rect {
  gint x;
  gint y;
  gint width;
  gint height;
};

// Reads a rectangle of the drawable (interleaved bytes) in row strips, so that no
// single host transfer needs offsets beyond 32 bits.
std::vector<std::uint8_t> read_rect(GimpDrawable* drawable, const Rect& rect);

// Writes a rectangle to the drawable's shadow tiles.
void write_rect_to_shadow(GimpDrawable* drawable, const Rect& rect,
                          std::span<const std::uint8_t> pixels);

// The selection's strength (0..255) at every pixel of a rectangle of the drawable,
// taken where those pixels lie on the canvas; pixels off the canvas are unselected.
std::vector<std::uint8_t> read_selection_mask(gint32 image, gint32 drawable_id, const Rect& rect);

}  // namespace orvex
