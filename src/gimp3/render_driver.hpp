// Between a drawable and the engine: checking it, reading it, rendering it, writing it back.
#pragma once

#include <libgimp/gimp.h>

#include <optional>

#include "engine/filter_settings.hpp"
#include "engine/pixels.hpp"
#include "gegl_io/buffer_pixels.hpp"

namespace orvex {

// What a render reads from the drawable, once.
struct DrawablePixels {
  GimpDrawable* drawable;
  GimpImage* image;
  TransferFormat format;
  PixelBuffer pixels;
  std::optional<PixelBuffer> mask;  // the selection where the drawable lies, if there is one
};

// Refuses, with the reason, a drawable whose pixels cannot be rendered and taken back.
void check_drawable(GimpDrawable* drawable);

DrawablePixels read_drawable(GimpDrawable* drawable);

// The worker threads GIMP's own preference allows.
int host_threads();

// Renders the whole drawable and writes it back as one undo step, leaving the selection,
// channels and selected items as they were. Throws Failure when it cannot.
void render_drawable(GimpDrawable* drawable, const ClampedSettings& settings);

// The shrunk, feathered interiors of the drawable's saturated areas (components at 1.0, or
// white), as GIMP 3's selection operations leave them (`pixels` are the drawable's); everything
// else is black. Same size and channels as the drawable.
PixelBuffer extract_highlights(GimpDrawable* drawable, const ClampedSettings& settings, const ConstPixels& pixels);

}  // namespace orvex
