#include "render/engine/ray_path.hpp"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace orvex {
namespace {

using Offsets = std::vector<std::pair<int, int>>;

RayProfile flat_profile(std::int64_t width, std::int64_t height) {
  return build_ray_profile(width, height, 0.0, profile_shape(default_settings(), 0));
}

Offsets offsets(const RayPath& path) {
  Offsets out;
  for (const RayPoint& p : path) out.emplace_back(p.dx, p.dy);
  return out;
}

Offsets traced(double angle, std::int64_t width = 10, std::int64_t height = 6) {
  return offsets(trace_ray_path(width, height, angle, flat_profile(width, height)));
}

Offsets horizontal(int n) {
  Offsets o;
  for (int i = 0; i < n; ++i) o.emplace_back(i, 0);
  return o;
}

TEST(RayPath, WorkedPathsInATenBySixRegion) {
  EXPECT_EQ(traced(0), horizontal(10));
  EXPECT_EQ(traced(180), horizontal(10));
  EXPECT_EQ(traced(359), horizontal(10));
  const Offsets vertical = {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 4}, {0, 5}};
  EXPECT_EQ(traced(90), vertical);
  EXPECT_EQ(traced(270), vertical);
  EXPECT_EQ(traced(30), (Offsets{{0, 0}, {1, 1}, {2, 1}, {3, 2}, {4, 2}, {5, 3}, {6, 3}, {7, 4}, {8, 5}, {9, 5}}));
  const Offsets diagonal = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}};
  EXPECT_EQ(traced(45), diagonal);
  EXPECT_EQ(traced(225), diagonal);
  EXPECT_EQ(traced(60), (Offsets{{0, 0}, {1, 1}, {1, 2}, {2, 3}, {2, 4}, {3, 5}}));
  EXPECT_EQ(traced(120), (Offsets{{0, 0}, {-1, 1}, {-1, 2}, {-2, 3}, {-2, 4}, {-3, 5}}));
  EXPECT_EQ(traced(135), (Offsets{{0, 0}, {1, -1}, {2, -2}, {3, -3}, {4, -4}, {5, -5}}));
  EXPECT_EQ(traced(494), (Offsets{{0, 0}, {-1, 1}, {-2, 2}, {-3, 3}, {-4, 4}, {-5, 5}}));
}

TEST(RayPath, WeightsLagOnePointBehindTheirDistance) {
  const RayProfile profile = flat_profile(10, 6);
  const RayPath path = trace_ray_path(10, 6, 45, profile);
  ASSERT_EQ(path.size(), 6u);
  const auto at = [&](int k) { return profile.values[2 * k]; };
  EXPECT_EQ(path[0].weight, 1.0);
  EXPECT_EQ(path[1].weight, 1.0);
  EXPECT_DOUBLE_EQ(path[2].weight, at(1));
  EXPECT_DOUBLE_EQ(path[3].weight, at(2));  // point 2 lies at 2.83
  EXPECT_DOUBLE_EQ(path[4].weight, at(4));  // point 3 lies at 4.24
  EXPECT_DOUBLE_EQ(path[5].weight, at(5));
  EXPECT_NEAR(at(1), 0.499, 5e-4);
  EXPECT_NEAR(at(2), 0.494, 5e-4);
  EXPECT_NEAR(at(4), 0.478, 5e-4);
  EXPECT_NEAR(at(5), 0.466, 5e-4);
}

TEST(RayPath, DegenerateRegions) {
  EXPECT_EQ(traced(0, 1, 5), (Offsets{{0, 0}}));
  EXPECT_EQ(traced(90, 5, 1), (Offsets{{0, 0}}));
  EXPECT_EQ(traced(0, 7, 1), horizontal(7));
  EXPECT_EQ(traced(90, 1, 4), (Offsets{{0, 0}, {0, 1}, {0, 2}, {0, 3}}));
  EXPECT_TRUE(traced(30, 0, 5).empty());
  EXPECT_TRUE(traced(30, 5, 0).empty());
  EXPECT_EQ(trace_ray_path(1, 1, 0, flat_profile(1, 1))[0].weight, 1.0);
}

TEST(RayPath, JustAboveFortyFiveDegreesAdvancesByRow) {
  const Offsets shallow = traced(45, 40, 40);
  const Offsets steep = traced(45.5, 40, 40);
  for (int n = 0; n < 10; ++n) {
    EXPECT_EQ(shallow[n], std::make_pair(n, n));
    EXPECT_EQ(steep[n], std::make_pair(n, n));
  }
  EXPECT_EQ(steep.back().second, 39);  // steep: one row per point
  EXPECT_EQ(shallow.back().first, 39);
}

TEST(RayPath, OppositeDirectionsTraceTheSamePath) {
  for (double a : {0.0, 17.0, 45.0, 71.5, 90.0, 133.0, 179.0}) {
    const RayProfile profile = flat_profile(37, 23);
    const RayPath p = trace_ray_path(37, 23, a, profile);
    const RayPath q = trace_ray_path(37, 23, a + 180, profile);
    ASSERT_EQ(offsets(p), offsets(q)) << a;
  }
}

TEST(RayPath, PointsStayInsideTheRegionAndMoveOneStepAtATime) {
  for (double a = 0; a <= 494; a += 7.25) {
    const RayPath path = trace_ray_path(31, 17, a, flat_profile(31, 17));
    ASSERT_FALSE(path.empty());
    for (std::size_t n = 1; n < path.size(); ++n) {
      ASSERT_LT(std::abs(path[n].dx), 31);
      ASSERT_LT(std::abs(path[n].dy), 17);
      ASSERT_LE(std::abs(path[n].dx - path[n - 1].dx), 1) << a;
      ASSERT_LE(std::abs(path[n].dy - path[n - 1].dy), 1) << a;
    }
  }
}

TEST(RayPath, FirstTwoPointsCarryFullWeightAndZeroDensitiesNothingElse) {
  FilterSettings s = default_settings();
  s.h0_density = s.h1_density = s.s_density = 0;
  const RayProfile dark = build_ray_profile(20, 20, 0.0, profile_shape(s, 0));
  const RayPath path = trace_ray_path(20, 20, 30, dark);
  EXPECT_EQ(path[0].weight, 1.0);
  EXPECT_EQ(path[1].weight, 1.0);
  for (std::size_t n = 2; n < path.size(); ++n) EXPECT_EQ(path[n].weight, 0.0);
}

TEST(PathSet, LineTypesSpreadDirectionsOverTheHalfTurn) {
  EXPECT_EQ(slot_angles(1, 10), (std::vector<double>{10}));
  EXPECT_EQ(slot_angles(2, 10), (std::vector<double>{10, 100}));
  EXPECT_EQ(slot_angles(3, 0), (std::vector<double>{0, 60, 120}));
  EXPECT_EQ(slot_angles(4, 300), (std::vector<double>{300, 345, 390, 435}));
  EXPECT_TRUE(slot_angles(0, 0).empty());
  const RayPathSet four = build_path_set(10, 6, 4, 0, flat_profile(10, 6));
  ASSERT_TRUE(four.slots[3].has_value());
  EXPECT_EQ((*four.slots[3])[1].dx, 1);  // 135 degrees heads up and right
  EXPECT_EQ((*four.slots[3])[1].dy, -1);
  const RayPathSet three = build_path_set(10, 6, 3, 0, flat_profile(10, 6));
  EXPECT_FALSE(three.slots[3].has_value());
  EXPECT_EQ((*three.slots[2])[1].dx, -1);  // 120 degrees heads down and left
  EXPECT_EQ((*three.slots[2])[1].dy, 1);
}

}  // namespace
}  // namespace orvex
