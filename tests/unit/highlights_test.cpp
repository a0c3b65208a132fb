// Highlight extraction where GIMP's own steps cannot be the reference: its threads, and brushes taller
// than the selection (where GIMP's shrink reads rows it never set).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "engine/highlight_extraction.hpp"

namespace orvex {
namespace {

ClampedSettings above_254(int threshold, int type) {
  FilterSettings s = default_settings();
  s.threshold = threshold;
  s.threshold_type = type;
  return ClampedSettings(s);
}

// Float RGBA blobs, white, near white (partly selected by colour) and above 1.0, over dark noise.
TEST(Highlights, WorkersChangeNoByte) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> u(0, 1);
  PixelBuffer layer(PixelLayout{203, 157, 4, SampleType::f32});
  auto* samples = reinterpret_cast<float*>(layer.bytes.data());
  for (std::int64_t i = 0; i < layer.layout.pixel_count(); ++i) {
    const std::int64_t x = i % 203, y = i / 203, blob = (x / 40 + y / 40) % 3;
    const bool inside = (x % 40 - 20) * (x % 40 - 20) + (y % 40 - 20) * (y % 40 - 20) < 300;
    const float bright = blob == 0 ? 1.0f : blob == 1 ? 0.93f + u(rng) / 15 : 1.5f;
    for (int c = 0; c < 4; ++c) samples[i * 4 + c] = c == 3 ? u(rng) : inside ? bright : u(rng) / 4;
  }
  for (const int type : {0, 1})
    for (const int threshold : {255, 262}) {
      const ClampedSettings settings = above_254(threshold, type);
      const PixelBuffer one = extract_highlights(settings, layer.view(), {SampleCurve::linear}, 1);
      const PixelBuffer three = extract_highlights(settings, layer.view(), {SampleCurve::linear}, 3);
      EXPECT_TRUE(one.bytes == three.bytes) << "type " << type << ", threshold " << threshold;
      EXPECT_NE(std::count(one.bytes.begin(), one.bytes.end(), std::byte{0}), std::ssize(one.bytes));
    }
}

// At 300 the brush reaches 46 rows up and down: a white layer 91 rows high keeps nothing, 120 its middle.
TEST(Highlights, BrushTallerThanTheLayerLeavesNothing) {
  for (const auto& [height, middle] : {std::pair{91, 0}, std::pair{120, 255}}) {
    PixelBuffer white(PixelLayout{300, height, 3, SampleType::u8});
    std::fill(white.bytes.begin(), white.bytes.end(), std::byte{255});
    const PixelBuffer out = extract_highlights(above_254(300, 0), white.view(), {}, 2);
    const bool black = std::count(out.bytes.begin(), out.bytes.end(), std::byte{0}) == std::ssize(out.bytes);
    EXPECT_EQ(black, middle == 0);
    EXPECT_EQ(static_cast<int>(out.bytes[static_cast<std::size_t>((height / 2 * 300 + 150) * 3)]), middle);
  }
}

}  // namespace
}  // namespace orvex
