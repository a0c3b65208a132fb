// Fuzz target over the whole computation: raw settings bytes (NaN, infinities and any
// integers included) and a small image of 1 to 4 channels, 0 to 64 pixels a side.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "render/engine/render_region.hpp"

namespace {

using namespace orvex;

struct Reader {
  const std::uint8_t* data;
  std::size_t size;
  std::uint8_t byte() {
    if (size == 0) return 0;
    --size;
    return *data++;
  }
};

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

bool any_source_can_pass(const FilterSettings& s, const std::vector<std::uint8_t>& px, int bpp) {
  if (s.threshold > 510) return false;
  for (std::size_t i = 0; i < px.size(); ++i)
    if (static_cast<int>(i % bpp) < colour_count(bpp) && px[i] != 0) return true;
  return false;
}

void compare_methods(const FilterSettings& settings, const PixelRegion& region) {
  FilterSettings s = settings;
  clamp_settings(s);
  const int colours = colour_count(region.bpp);
  const auto paths = build_channel_paths(s, region.width, region.height, colours);
  const ChannelPlanes source = read_planes(region.pixels, region.bpp, region.width, region.height);
  const ChannelPlanes direct =
      accumulate_rays(s, source, region.bpp, paths, StampOptions{2, {}, StampMethod::direct});
  const ChannelPlanes convolved =
      accumulate_rays(s, source, region.bpp, paths, StampOptions{1, {}, StampMethod::convolution});
  for (int c = 0; c < colours; ++c)
    for (std::int64_t i = 0; i < direct.pixel_count(); ++i) {
      const double a = direct.plane(c)[i];
      const double b = convolved.plane(c)[i];
      check(std::fabs(a - b) <= 1e-9 * std::max(1.0, std::fabs(a)), "convolution matches stamping");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < sizeof(FilterSettings) + 4) return 0;
  FilterSettings settings;
  std::memcpy(&settings, data, sizeof settings);
  Reader in{data + sizeof settings, size - sizeof settings};
  const int bpp = 1 + in.byte() % 4;
  const std::int64_t width = in.byte() % 65;
  const std::int64_t height = in.byte() % 65;
  const bool masked = in.byte() & 1;
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width * height * bpp));
  for (auto& b : pixels) b = in.byte();
  std::vector<std::uint8_t> mask;
  if (masked) {
    mask.resize(static_cast<std::size_t>(width * height));
    for (auto& m : mask) m = in.byte();
  }

  const PixelRegion region{width, height, bpp, pixels};
  const std::vector<std::uint8_t> out = render_region(settings, region, mask, RenderHooks{2, {}, {}, {}});
  check(out.size() == pixels.size(), "output has the input's size");
  for (std::size_t i = 0; i < out.size(); ++i)
    if (static_cast<int>(i % bpp) >= colour_count(bpp)) check(out[i] == pixels[i], "alpha is kept");
  FilterSettings clamped = settings;
  clamp_settings(clamped);
  if (!any_source_can_pass(clamped, pixels, bpp)) check(out == pixels, "no source, no change");
  for (std::size_t i = 0; i < out.size(); ++i) check(out[i] >= pixels[i], "rays never darken");
  if (width * height <= 24 * 24) compare_methods(settings, region);
  return 0;
}
