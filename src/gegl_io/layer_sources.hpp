// Reading a layer and collecting its light sources in one pass over GIMP's tiles.
#pragma once

#include <gegl.h>

#include <functional>
#include <optional>

#include "engine/filter_settings.hpp"
#include "engine/sources.hpp"
#include "gegl_io/buffer_pixels.hpp"

namespace orvex {

// Finds the highlights of a whole layer (threshold above 254), as the host's own operations do.
using HighlightFinder = std::function<PixelBuffer(const ConstPixels& layer)>;

// Reads `layer` into `pixels` (its size, not read yet) and collects the sources the settings
// take: while the strips are read, or, above threshold 254, from the highlights once the layer
// is whole. `mask` is the selection, already read.
LayerSources read_layer_and_sources(GeglBuffer* layer, const TransferFormat& format, PixelBuffer& pixels,
                                    const std::optional<PixelBuffer>& mask, const ClampedSettings& settings,
                                    int threads, const HighlightFinder& find_highlights);

}  // namespace orvex
