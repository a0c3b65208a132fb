#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "render/engine/bands.hpp"
#include "render/engine/blend.hpp"

namespace orvex {
namespace {

std::vector<RowRange> split(std::int64_t height, int processors) {
  const int n = band_count(height, processors);
  std::vector<RowRange> bands;
  for (int k = 0; k < n; ++k) bands.push_back(band_rows(height, k, n));
  return bands;
}

TEST(Bands, OneBandPerProcessorWhenEachGetsTwoRows) {
  EXPECT_EQ(split(10, 4), (std::vector<RowRange>{{0, 1}, {2, 4}, {5, 6}, {7, 9}}));
  EXPECT_EQ(split(7, 4), (std::vector<RowRange>{{0, 6}}));
  EXPECT_EQ(split(1, 1), (std::vector<RowRange>{{0, 0}}));
  EXPECT_EQ(split(8, 4).size(), 4u);
}

TEST(Bands, CoverEveryRowOnceForLargeRegions) {
  const std::int64_t height = 3'000'000'000LL;  // beyond 32-bit row arithmetic
  const auto bands = split(height, 7);
  ASSERT_EQ(bands.size(), 7u);
  EXPECT_EQ(bands.front().first, 0);
  EXPECT_EQ(bands.back().last, height - 1);
  for (std::size_t k = 1; k < bands.size(); ++k) EXPECT_EQ(bands[k].first, bands[k - 1].last + 1);
}

TEST(Blend, WorkedValues) {
  EXPECT_EQ(to_byte(blend_value(50, 128 / 255.0, 0.3)), 166);
  EXPECT_EQ(to_byte(blend_value(100, 128 / 255.0, 0.3)), 204);
  EXPECT_EQ(to_byte(blend_value(50, 0.2, 1.0)), 255);   // brightness x rays reaches 50
  EXPECT_EQ(to_byte(blend_value(25, 0.2, 2.0)), 255);
  EXPECT_EQ(to_byte(blend_value(50, 0.2, -3.0)), 51);  // negative rays do not darken
}

TEST(Blend, UntouchedBytesComeBackExactly) {
  for (int b = 0; b < 256; ++b) ASSERT_EQ(to_byte(blend_value(77, b / 255.0, 0.0)), b);
}

TEST(Blend, AlphaIsCopiedAndOnlyColoursChange) {
  ChannelPlanes acc = alloc_planes(3, 2, 1);
  acc.plane(0)[0] = 1.0;
  acc.plane(2)[1] = 0.3;
  const std::vector<std::uint8_t> base = {10, 20, 30, 40, 128, 0, 128, 7};
  std::vector<std::uint8_t> out(base.size());
  blend_to_bytes(50, base, 4, acc, out);
  EXPECT_EQ(out, (std::vector<std::uint8_t>{255, 20, 30, 40, 128, 0, 166, 7}));
}

}  // namespace
}  // namespace orvex
