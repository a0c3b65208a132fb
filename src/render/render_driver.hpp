#pragma once

#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>

namespace orvex {

// Renders the drawable (preview == nullptr) or the preview's visible area from the
// global settings. Returns false when the render could not be done; the image is then
// left as it was.
bool render(GimpDrawable* drawable, GimpPreview* preview);

}  // namespace orvex
