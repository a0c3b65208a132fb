#include "render/engine/ray_profile.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace orvex {
namespace {

RayProfile default_profile(int channel, std::int64_t width = 300, std::int64_t height = 200) {
  return build_ray_profile(width, height, 0.0, profile_shape(default_settings(), channel));
}

bool bit_equal(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(RayProfile, DefaultsGiveTheKnownIntensities) {
  const RayProfile red = default_profile(0);
  EXPECT_EQ(red.values[0], 1.0);
  EXPECT_EQ(red.values[1], 1.0);
  EXPECT_NEAR(red.values[2], 0.499, 5e-4);
  EXPECT_NEAR(red.values[4], 0.494, 5e-4);
  EXPECT_NEAR(default_profile(0).values[20], 0.379, 5e-4);
  EXPECT_NEAR(default_profile(1).values[20], 0.381, 5e-4);
  EXPECT_NEAR(default_profile(2).values[20], 0.383, 5e-4);
  EXPECT_NEAR(red.values[200], -0.050, 5e-4);
}

TEST(RayProfile, EntriesComeInBitEqualPairsAndSizeFollowsTheLargerSide) {
  const RayProfile profile = default_profile(2, 300, 200);
  ASSERT_EQ(profile.count(), 1200);
  EXPECT_EQ(profile.steps, 2);
  for (std::int64_t k = 0; k < profile.count() / 2; ++k)
    ASSERT_TRUE(bit_equal(profile.values[2 * k], profile.values[2 * k + 1])) << k;
  EXPECT_EQ(default_profile(0, 100, 700).count(), 2800);
}

TEST(RayProfile, TinyAndEmptyRegions) {
  const RayProfile one = default_profile(0, 1, 1);
  ASSERT_EQ(one.count(), 4);
  EXPECT_EQ(one.values[0], 1.0);
  EXPECT_EQ(one.values[1], 1.0);
  EXPECT_EQ(one.values[2], ray_intensity(1.0, 1.0, profile_shape(default_settings(), 0)));
  EXPECT_EQ(default_profile(0, 0, 0).count(), 0);
}

TEST(RayProfile, ZeroDensitiesLeaveOnlyTheSourceItself) {
  FilterSettings s = default_settings();
  s.h0_density = 0;
  s.h1_density = 0;
  s.s_density = 0;
  const RayProfile profile = build_ray_profile(50, 50, 0.0, profile_shape(s, 1));
  EXPECT_EQ(profile.values[0], 1.0);
  EXPECT_EQ(profile.values[1], 1.0);
  for (std::int64_t i = 2; i < profile.count(); ++i) ASSERT_EQ(profile.values[i], 0.0) << i;
}

TEST(RayProfile, ScaleZeroMeansOneAndOtherScalesDivideTheDistance) {
  const ProfileShape shape = profile_shape(default_settings(), 0);
  const RayProfile zero = build_ray_profile(40, 30, 0.0, shape);
  const RayProfile one = build_ray_profile(40, 30, 1.0, shape);
  EXPECT_EQ(zero.values, one.values);
  const RayProfile half = build_ray_profile(40, 30, 2.0, shape);
  EXPECT_EQ(half.values[6], ray_intensity(1.0, 1.5, shape));
  EXPECT_EQ(half.values[7], ray_intensity(1.0, 1.5, shape));
}

TEST(RayProfile, DephasingSeparatesChannelsOnlyThroughTheSpectrum) {
  FilterSettings s = default_settings();
  s.s_dephasing = 0;
  EXPECT_EQ(default_profile(0).values,
            build_ray_profile(300, 200, 0.0, profile_shape(s, 2)).values);
  s = default_settings();
  s.s_density = 0;
  EXPECT_EQ(build_ray_profile(300, 200, 0.0, profile_shape(s, 0)).values,
            build_ray_profile(300, 200, 0.0, profile_shape(s, 2)).values);
  EXPECT_NE(default_profile(0).values, default_profile(2).values);
}

TEST(RayProfile, SecondHighlightAtZeroDensityContributesNothing) {
  FilterSettings a = default_settings();
  FilterSettings b = default_settings();
  a.h1_extent = 3;
  b.h1_extent = 90;
  EXPECT_EQ(build_ray_profile(80, 80, 0.0, profile_shape(a, 0)).values,
            build_ray_profile(80, 80, 0.0, profile_shape(b, 0)).values);
}

TEST(RayIntensity, ComponentsAddAndTheSpectrumIsSigned) {
  const ProfileShape only_h0{0.5, 343, 0, 343, 0, 1, 1, 1};
  EXPECT_DOUBLE_EQ(ray_intensity(1.0, 3.0, only_h0), std::exp(-9.0 / 343) * 0.5);
  EXPECT_EQ(ray_intensity(2.5, 0.0, only_h0), 2.5);
  EXPECT_EQ(ray_intensity(2.5, -0.0, only_h0), 2.5);
  const ProfileShape only_spectrum{0, 1, 0, 1, 0.5, 1e6, 1, 1};
  // sin(r^2) < 0 at r = 2 (sin 4 = -0.757)
  EXPECT_LT(ray_intensity(1.0, 2.0, only_spectrum), 0.0);
  EXPECT_DOUBLE_EQ(ray_intensity(1.0, 2.0, only_spectrum), std::sin(4.0) * 0.5 * std::exp(-4.0 / 1e6));
}

TEST(ChannelPhase, RedIsUnshiftedGreenAndBlueFollowTheDephasing) {
  EXPECT_EQ(channel_phase(0, 20), 1.0);
  EXPECT_DOUBLE_EQ(channel_phase(1, 20), 1.2);
  EXPECT_DOUBLE_EQ(channel_phase(2, 20), 1.4);
  EXPECT_EQ(channel_phase(3, 20), 1.0);
}

}  // namespace
}  // namespace orvex
