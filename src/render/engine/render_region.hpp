// The whole computation for one region: bytes in, bytes out.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "plugin/filter_settings.hpp"
#include "render/engine/channel_planes.hpp"
#include "render/engine/ray_path.hpp"
#include "render/engine/stamping.hpp"

namespace orvex {

struct PixelRegion {
  std::int64_t width = 0;
  std::int64_t height = 0;
  int bpp = 0;
  std::span<const std::uint8_t> pixels;  // interleaved, row-major, width * height * bpp
};

struct RenderHooks {
  int thread_count = 1;
  ProgressCallback progress;
  // Replaces the colour planes of the sources at thresholds above 254 (highlight extraction).
  std::function<void(ChannelPlanes& source)> replace_sources;
  // Runs once the sources are final, just before the rays are stamped.
  std::function<void()> before_stamping;
};

// Multiplies the colour planes by the selection mask (one byte per pixel, 255 = fully selected).
void weight_by_selection(ChannelPlanes& source, std::span<const std::uint8_t> mask);

// One profile and one set of ray paths per colour channel.
std::vector<RayPathSet> build_channel_paths(const FilterSettings& settings, std::int64_t width,
                                            std::int64_t height, int colour_channels);

// Clamps a copy of the settings and renders the region. An empty mask means no selection.
std::vector<std::uint8_t> render_region(const FilterSettings& settings, const PixelRegion& region,
                                        std::span<const std::uint8_t> mask,
                                        const RenderHooks& hooks);

}  // namespace orvex
