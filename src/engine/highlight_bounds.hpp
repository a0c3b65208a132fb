// Where highlight extraction can find anything, so that the host's selection operations need
// only run on that part of a layer.
#pragma once

#include <cstdint>

#include "engine/pixels.hpp"

namespace orvex {

// The bounding box of the samples at full intensity (any colour channel), or with whole colours
// of the pixels whose colour channels are all near white, grown by `margin` on every side and
// kept inside the layer. Empty (zero size) when there is no such pixel.
Rect highlight_bounds(const ConstPixels& layer, bool whole_colour, std::int64_t margin);

}  // namespace orvex
