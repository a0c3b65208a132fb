#pragma once

#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>

#include "render/engine/channel_planes.hpp"

namespace orvex {

// Replaces the colour planes of `source` (a region of the drawable at the preview's
// position, or at the drawable's origin) by the shrunk, feathered interiors of its
// saturated areas, using the host's own selection operations on a temporary image.
void extract_highlights(GimpDrawable* drawable, GimpPreview* preview, int threshold_type,
                        std::int64_t width, std::int64_t height, int bpp, ChannelPlanes& source);

}  // namespace orvex
