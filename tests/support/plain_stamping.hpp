// The plainest possible stamping: every pixel tested, every ray point added one by one,
// single-threaded. The oracle that the fast paths are checked against.
#pragma once

#include <vector>

#include "plugin/filter_settings.hpp"
#include "render/engine/channel_planes.hpp"
#include "render/engine/ray_path.hpp"

namespace orvex_testing {

orvex::ChannelPlanes plain_accumulation(const orvex::FilterSettings& settings,
                                        const orvex::ChannelPlanes& source, int bpp,
                                        const std::vector<orvex::RayPathSet>& paths);

}  // namespace orvex_testing
