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
  gint32 drawable;
  gint32 image;
  TransferFormat format;
  PixelBuffer pixels;
  std::optional<PixelBuffer> mask;  // the selection where the drawable lies, if there is one
};

// Refuses, with the reason, a drawable whose pixels cannot be rendered and taken back.
void check_drawable(gint32 drawable_id);

DrawablePixels read_drawable(gint32 drawable_id);

// The worker threads GIMP's own preference allows.
int host_threads();

// Renders the whole drawable and writes it back as one undo step, leaving the selection,
// channels and active items as they were. Throws Failure when it cannot.
void render_drawable(gint32 drawable_id, const ClampedSettings& settings);

}  // namespace orvex
