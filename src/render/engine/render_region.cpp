#include "render/engine/render_region.hpp"

#include <stdexcept>

#include "render/engine/blend.hpp"
#include "render/engine/ray_profile.hpp"

namespace orvex {

void weight_by_selection(ChannelPlanes& source, std::span<const std::uint8_t> mask) {
  const std::int64_t n = source.pixel_count();
  if (static_cast<std::int64_t>(mask.size()) < n) throw std::invalid_argument("mask too small");
  const int bpp = source.count();
  for (int c = 0; c < colour_count(bpp); ++c) {
    std::span<double> plane = source.plane(c);
    for (std::int64_t i = 0; i < n; ++i) {
      const std::uint8_t m = mask[i];
      if (m == 0)
        plane[i] = 0.0;
      else if (m != 255)
        plane[i] *= m / 255.0;
    }
  }
}

std::vector<RayPathSet> build_channel_paths(const FilterSettings& settings, std::int64_t width,
                                            std::int64_t height, int colour_channels) {
  std::vector<RayProfile> profiles;
  for (int c = 0; c < colour_channels; ++c)
    profiles.push_back(build_ray_profile(width, height, 0.0, profile_shape(settings, c)));
  std::vector<RayPathSet> sets;
  for (int c = 0; c < colour_channels; ++c)
    sets.push_back(build_path_set(width, height, settings.line_type, settings.angle,
                                  profiles[static_cast<std::size_t>(c)]));
  return sets;
}

std::vector<std::uint8_t> render_region(const FilterSettings& requested, const PixelRegion& region,
                                        std::span<const std::uint8_t> mask,
                                        const RenderHooks& hooks) {
  if (region.bpp < 1 || region.bpp > 4) throw std::invalid_argument("unsupported pixel format");
  FilterSettings settings = requested;
  clamp_settings(settings);

  // Alpha never sends rays and the blend copies it from the bytes: only colour planes.
  const int colours = colour_count(region.bpp);
  ChannelPlanes source = read_planes(region.pixels, region.bpp, region.width, region.height,
                                     hooks.thread_count, colours);
  if (!mask.empty()) weight_by_selection(source, mask);
  if (settings.threshold > 254 && hooks.replace_sources) hooks.replace_sources(source);
  if (hooks.before_stamping) hooks.before_stamping();

  const std::vector<RayPathSet> paths =
      build_channel_paths(settings, region.width, region.height, colours);
  // The blend reads the original bytes, so the source planes can go with the stamping.
  const ChannelPlanes accumulation =
      accumulate_rays(settings, std::move(source), region.bpp, paths,
                      StampOptions{hooks.thread_count, hooks.progress});

  std::vector<std::uint8_t> out(region.pixels.size());
  blend_to_bytes(settings.brightness, region.pixels, region.bpp, accumulation, out,
                 hooks.thread_count);
  return out;
}

}  // namespace orvex
