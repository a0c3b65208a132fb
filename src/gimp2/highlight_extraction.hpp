#pragma once

#include <libgimp/gimp.h>

#include "engine/filter_settings.hpp"
#include "engine/pixels.hpp"

namespace orvex {

// The shrunk, feathered interiors of the drawable's saturated areas (components at 1.0, or
// white), as GIMP 2.10's selection operations leave them (`layer` being its pixels); everything
// else is black. Same size and channels as the drawable.
PixelBuffer extract_highlights(gint32 drawable_id, const ClampedSettings& settings, const ConstPixels& layer);

}  // namespace orvex
