#pragma once

#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>

namespace orvex {

// Handler of the preview's "invalidated" signal: renders the visible area into the preview.
void preview_invalidated(GimpPreview* preview, gpointer unused);

}  // namespace orvex
