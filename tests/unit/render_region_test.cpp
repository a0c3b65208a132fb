#include "render/engine/render_region.hpp"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace orvex {
namespace {

std::vector<std::uint8_t> dark_with_light(int bpp, std::int64_t w, std::int64_t h, std::int64_t lx,
                                          std::int64_t ly) {
  std::vector<std::uint8_t> px(static_cast<std::size_t>(w * h * bpp));
  std::mt19937 rng(7);
  for (auto& b : px) b = static_cast<std::uint8_t>(rng() % 60);
  for (int c = 0; c < bpp; ++c) px[(ly * w + lx) * bpp + c] = 255;
  return px;
}

TEST(RenderRegion, AlphaAndUnreachedPixelsKeepTheirBytes) {
  FilterSettings s = default_settings();
  s.line_type = 1;  // one horizontal line through the light
  const auto in = dark_with_light(4, 30, 20, 10, 5);
  const auto out = render_region(s, {30, 20, 4, in}, {}, RenderHooks{2, {}, {}, {}});
  for (std::int64_t y = 0; y < 20; ++y)
    for (std::int64_t x = 0; x < 30; ++x)
      for (int c = 0; c < 4; ++c) {
        const std::size_t i = static_cast<std::size_t>((y * 30 + x) * 4 + c);
        if (c == 3 || y != 5) {
          ASSERT_EQ(out[i], in[i]) << x << "," << y << " c" << c;
        }
      }
  EXPECT_EQ(out[(5 * 30 + 10) * 4], 255);
  EXPECT_GT(out[(5 * 30 + 14) * 4], in[(5 * 30 + 14) * 4]);
}

TEST(RenderRegion, UnselectedSourcesSendNoRaysButRaysCrossUnselectedPixels) {
  FilterSettings s = default_settings();
  s.line_type = 1;
  s.threshold = 100;  // a half-selected light still passes
  const auto in = dark_with_light(1, 30, 3, 10, 1);
  std::vector<std::uint8_t> mask(90, 255);
  const auto selected = render_region(s, {30, 3, 1, in}, mask, {});
  mask[1 * 30 + 10] = 0;
  const auto unselected = render_region(s, {30, 3, 1, in}, mask, {});
  EXPECT_EQ(unselected, in);
  mask.assign(90, 0);
  mask[1 * 30 + 10] = 128;  // partly selected light, rays reach unselected pixels
  const auto partial = render_region(s, {30, 3, 1, in}, mask, {});
  EXPECT_GT(partial[1 * 30 + 20], in[1 * 30 + 20]);
  EXPECT_LT(partial[1 * 30 + 20], selected[1 * 30 + 20]);
}

TEST(RenderRegion, SettingsAreClampedAndHighThresholdsUseTheReplacement) {
  FilterSettings wild = default_settings();
  wild.threshold = 600;  // becomes 511: nothing reaches it
  const auto in = dark_with_light(3, 12, 12, 6, 6);
  bool replaced = false;
  RenderHooks hooks;
  hooks.replace_sources = [&](ChannelPlanes&) { replaced = true; };
  EXPECT_EQ(render_region(wild, {12, 12, 3, in}, {}, hooks), in);
  EXPECT_TRUE(replaced);
  FilterSettings low = default_settings();
  low.threshold = -5;
  low.line_type = 9;
  FilterSettings expected = default_settings();
  expected.threshold = 0;
  expected.line_type = 4;
  EXPECT_EQ(render_region(low, {12, 12, 3, in}, {}, {}), render_region(expected, {12, 12, 3, in}, {}, {}));
}

TEST(RenderRegion, RejectsBuffersThatDoNotMatchTheRegion) {
  const std::vector<std::uint8_t> small(10);
  EXPECT_THROW(render_region(default_settings(), {4, 4, 3, small}, {}, {}), std::invalid_argument);
  EXPECT_THROW(render_region(default_settings(), {4, 4, 5, small}, {}, {}), std::invalid_argument);
}

}  // namespace
}  // namespace orvex
