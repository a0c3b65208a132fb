// The plainest possible render: every pixel tested, every point of the untrimmed ray paths
// added one at a time, one thread. The oracle that the fast paths are checked against.
#pragma once

#include <vector>

#include "engine/blend.hpp"
#include "engine/filter_settings.hpp"
#include "engine/pixels.hpp"

namespace orvex_testing {

using Planes = orvex::RayPlanes;

Planes plain_accumulation(const orvex::ClampedSettings& settings, const orvex::ConstPixels& layer);
orvex::PixelBuffer plain_render(const orvex::ClampedSettings& settings, const orvex::ConstPixels& layer);

}  // namespace orvex_testing
