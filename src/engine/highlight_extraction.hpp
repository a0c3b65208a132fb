// The light sources above threshold 254: the shrunk, feathered interiors of a layer's saturated
// areas, found by the steps GIMP's selection operations take and with GIMP's very rounding.
#pragma once

#include <cstdint>

#include "engine/filter_settings.hpp"
#include "engine/pixels.hpp"

namespace orvex {

// The tone curve the layer's samples are stored in: GIMP's linear precisions, or its
// non-linear and perceptual ones (the sRGB curve).
enum class SampleCurve : std::uint8_t { linear, srgb };

// GIMP 2.10 and 3.0 convert a few formats with different rounding (their babl versions).
enum class GimpRounding : std::uint8_t { gimp2, gimp3 };

struct LayerEncoding {
  SampleCurve curve = SampleCurve::srgb;
  GimpRounding rounding = GimpRounding::gimp2;
};

// What GIMP's steps leave of the layer: per pass (each colour component for threshold type 0 and on
// gray layers, else whole colours once), the pixels at full scale selected, the selection shrunk by
// threshold - 254 pixels, feathered by 2, inverted and filled with black in that pass's component.
// Same size and channels as the layer; 8-bit layers give bytes, all others 16-bit words (GIMP works
// on a 16-bit copy of floating-point layers, where 1.0 and more are full scale). Needs a threshold
// above 254. Runs on up to `threads` of the engine's workers.
PixelBuffer extract_highlights(const ClampedSettings& settings, const ConstPixels& layer,
                               const LayerEncoding& encoding, int threads);

}  // namespace orvex
