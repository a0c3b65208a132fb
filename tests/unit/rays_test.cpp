#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "engine/channel_rays.hpp"
#include "engine/ray_path.hpp"
#include "engine/ray_profile.hpp"

namespace orvex {
namespace {

RayProfile profile(int channel, std::int64_t width, std::int64_t height,
                   const FilterSettings& s = default_settings()) {
  return build_ray_profile(width, height, 0.0, profile_shape(s, channel));
}

TEST(RayProfile, DefaultsGiveTheKnownIntensities) {
  const RayProfile red = profile(0, 300, 200);
  ASSERT_EQ(red.count(), 1200);  // 4 x the larger side
  EXPECT_EQ(red.values[0], 1.0);
  EXPECT_EQ(red.values[1], 1.0);
  EXPECT_NEAR(red.values[2], 0.499, 5e-4);
  EXPECT_NEAR(red.values[4], 0.494, 5e-4);
  EXPECT_NEAR(red.values[200], -0.050, 5e-4);
  const double at_ten[] = {0.379, 0.381, 0.383};  // the channels ring apart
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(profile(c, 300, 200).values[20], at_ten[c], 5e-4) << c;
  for (std::int64_t k = 0; k < red.count() / 2; ++k)
    ASSERT_EQ(std::memcmp(&red.values[2 * k], &red.values[2 * k + 1], sizeof(double)), 0) << k;
}

TEST(RayProfile, ZeroDensitiesLeaveOnlyTheSourceAndNoDephasingOneProfile) {
  FilterSettings s = default_settings();
  s.h0_density = s.h1_density = s.s_density = 0;
  const RayProfile flat = profile(1, 50, 50, s);
  for (std::int64_t i = 2; i < flat.count(); ++i) ASSERT_EQ(flat.values[i], 0.0) << i;
  s = default_settings();
  s.s_dephasing = 0;
  EXPECT_EQ(profile(0, 80, 60, s).values, profile(2, 80, 60, s).values);
  EXPECT_NE(profile(0, 80, 60).values, profile(2, 80, 60).values);
}

using Offsets = std::vector<std::pair<int, int>>;

Offsets traced(double angle, std::int64_t width = 10, std::int64_t height = 6) {
  Offsets out;
  for (const RayPoint& p : trace_ray_path(width, height, angle, profile(0, width, height)))
    out.emplace_back(p.dx, p.dy);
  return out;
}

TEST(RayPath, WorkedPathsInATenBySixRegion) {
  Offsets row;
  for (int i = 0; i < 10; ++i) row.emplace_back(i, 0);
  const Offsets column = {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 4}, {0, 5}};
  const Offsets diagonal = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}};
  const std::vector<std::pair<double, Offsets>> rows = {
      {0, row}, {180, row}, {359, row}, {90, column}, {270, column}, {45, diagonal}, {225, diagonal},
      {30, {{0, 0}, {1, 1}, {2, 1}, {3, 2}, {4, 2}, {5, 3}, {6, 3}, {7, 4}, {8, 5}, {9, 5}}},
      {60, {{0, 0}, {1, 1}, {1, 2}, {2, 3}, {2, 4}, {3, 5}}},
      {120, {{0, 0}, {-1, 1}, {-1, 2}, {-2, 3}, {-2, 4}, {-3, 5}}},
      {135, {{0, 0}, {1, -1}, {2, -2}, {3, -3}, {4, -4}, {5, -5}}},
      {494, {{0, 0}, {-1, 1}, {-2, 2}, {-3, 3}, {-4, 4}, {-5, 5}}},
  };
  for (const auto& [angle, expected] : rows) EXPECT_EQ(traced(angle), expected) << angle;
  EXPECT_EQ(traced(0, 1, 5), (Offsets{{0, 0}}));
  EXPECT_EQ(traced(90, 1, 4), (Offsets{{0, 0}, {0, 1}, {0, 2}, {0, 3}}));
  EXPECT_TRUE(traced(30, 0, 5).empty());
  EXPECT_TRUE(traced(30, 5, 0).empty());
}

TEST(RayPath, WeightsLagOnePointBehindTheirDistance) {
  const RayProfile p = profile(0, 10, 6);
  const RayPath path = trace_ray_path(10, 6, 45, p);
  const double expected[] = {1.0, 1.0, p.values[2], p.values[4], p.values[8], p.values[10]};
  ASSERT_EQ(path.size(), 6u);
  for (std::size_t n = 0; n < 6; ++n) EXPECT_DOUBLE_EQ(path[n].weight, expected[n]) << n;
}

TEST(ChannelRays, DirectionsSplitByOrientationAndTailsAreTrimmed) {
  FilterSettings s = default_settings();
  s.line_type = 4;
  s.angle = 30;
  const std::vector<ChannelRays> rays = build_channel_rays(ClampedSettings(s), 4000, 3000, 3);
  ASSERT_EQ(rays.size(), 3u);
  EXPECT_EQ(rays[0].slot_count, 4);
  EXPECT_EQ(rays[0].row_paths.size(), 2u);  // 30 and 165 (= -15) are shallow
  EXPECT_EQ(rays[0].column_paths.size(), 2u);
  // The spectrum's envelope ends the default rays near 700 pixels, not at the layer's edge.
  const std::size_t kept = rays[0].row_paths[0].weights.size();
  EXPECT_GT(kept, 500u);
  EXPECT_LT(kept, 900u);
  EXPECT_GE(std::fabs(rays[0].row_paths[0].weights.back()), kNegligibleWeight);
}

}  // namespace
}  // namespace orvex
