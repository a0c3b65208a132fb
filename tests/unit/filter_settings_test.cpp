#include "plugin/filter_settings.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "plugin/parameter_table.hpp"

namespace orvex {
namespace {

FilterSettings clamped(FilterSettings s) {
  clamp_settings(s);
  return s;
}

TEST(SettingsRecord, DefaultsMatchTheDocumentedValues) {
  const FilterSettings s = default_settings();
  EXPECT_EQ(s.brightness, 50);
  EXPECT_EQ(s.threshold, 250);
  EXPECT_EQ(s.threshold_type, 0);
  EXPECT_EQ(s.angle, 0);
  EXPECT_EQ(s.line_type, 2);
  EXPECT_EQ(s.h0_density, 100);
  EXPECT_EQ(s.h0_extent, 7);
  EXPECT_EQ(s.h1_density, 0);
  EXPECT_EQ(s.h1_extent, 7);
  EXPECT_EQ(s.s_density, 25);
  EXPECT_EQ(s.s_extent, 25);
  EXPECT_EQ(s.s_amp, 50);
  EXPECT_EQ(s.s_dephasing, 20);
  EXPECT_EQ(s.reserved, 0);
}

TEST(SettingsRecord, StoredBytesAreLittleEndianFieldsAtFixedOffsets) {
  FilterSettings s = default_settings();
  s.threshold = 0x01020304;
  unsigned char bytes[96];
  static_assert(sizeof bytes == sizeof s);
  std::memcpy(bytes, &s, sizeof s);
  EXPECT_EQ(bytes[8], 0x04);
  EXPECT_EQ(bytes[11], 0x01);
  double angle = -1;
  std::memcpy(&angle, bytes + 16, 8);
  EXPECT_EQ(angle, 0.0);
  double dephasing = -1;
  std::memcpy(&dephasing, bytes + 88, 8);
  EXPECT_EQ(dephasing, 20.0);
}

TEST(SettingsClamp, DefaultsAndBoundsStayAsTheyAre) {
  const FilterSettings d = default_settings();
  EXPECT_EQ(std::memcmp(&d, &static_cast<const FilterSettings&>(clamped(d)), sizeof d), 0);
  FilterSettings s = d;
  s.angle = 359;
  s.brightness = 1;
  s.threshold = 511;
  s.s_extent = 1;
  s.s_dephasing = 0;
  s.h0_density = 0;
  const FilterSettings c = clamped(s);
  EXPECT_EQ(c.angle, 359);
  EXPECT_EQ(c.brightness, 1);
  EXPECT_EQ(c.threshold, 511);
  EXPECT_EQ(c.s_extent, 1);
  EXPECT_EQ(c.s_dephasing, 0);
  EXPECT_EQ(c.h0_density, 0);
}

TEST(SettingsClamp, OutOfRangeIntegersGoToTheirBounds) {
  FilterSettings s = default_settings();
  s.threshold = -5;
  s.line_type = 0;
  EXPECT_EQ(clamped(s).threshold, 0);
  EXPECT_EQ(clamped(s).line_type, 1);
  s.threshold = 600;
  s.line_type = 7;
  EXPECT_EQ(clamped(s).threshold, 511);
  EXPECT_EQ(clamped(s).line_type, 4);
  s.threshold = std::numeric_limits<std::int32_t>::min();
  EXPECT_EQ(clamped(s).threshold, 0);
}

TEST(SettingsClamp, UnknownThresholdTypeFallsBackToEachChannel) {
  FilterSettings s = default_settings();
  for (std::int32_t type : {3, 99, -1, std::numeric_limits<std::int32_t>::max()}) {
    s.threshold_type = type;
    EXPECT_EQ(clamped(s).threshold_type, 0) << type;
  }
  s.threshold_type = 2;
  EXPECT_EQ(clamped(s).threshold_type, 2);
}

TEST(SettingsClamp, RealsAreHeldAtTheirBoundsWithoutWrapping) {
  FilterSettings s = default_settings();
  s.angle = -10;
  s.brightness = 0.5;
  s.s_extent = 0;
  s.s_amp = 0;
  s.s_density = 0;
  s.h1_density = -3;
  FilterSettings c = clamped(s);
  EXPECT_EQ(c.angle, 0);
  EXPECT_EQ(c.brightness, 1);
  EXPECT_EQ(c.s_extent, 1);
  EXPECT_EQ(c.s_amp, 1);
  EXPECT_EQ(c.s_density, 0);
  EXPECT_EQ(c.h1_density, 0);
  s.angle = 400;
  s.brightness = 150;
  s.h0_extent = 1e9;
  c = clamped(s);
  EXPECT_EQ(c.angle, 359);
  EXPECT_EQ(c.brightness, 100);
  EXPECT_EQ(c.h0_extent, 100);
}

TEST(SettingsClamp, NotANumberBecomesTheDefaultAndInfinityABound) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  FilterSettings s = default_settings();
  s.brightness = nan;
  s.angle = nan;
  s.s_amp = nan;
  s.h0_extent = inf;
  s.h1_extent = -inf;
  const FilterSettings c = clamped(s);
  EXPECT_EQ(c.brightness, 50);
  EXPECT_EQ(c.angle, 0);
  EXPECT_EQ(c.s_amp, 50);
  EXPECT_EQ(c.h0_extent, 100);
  EXPECT_EQ(c.h1_extent, 1);
}

TEST(SettingsClamp, ReservedBytesAreLeftAlone) {
  FilterSettings s = default_settings();
  s.reserved = 0x5a5a5a5a;
  EXPECT_EQ(clamped(s).reserved, 0x5a5a5a5a);
}

TEST(ParameterTable, SettingsFollowTheRecordInOrderWithFixedWidthDescriptions) {
  ASSERT_EQ(kParams.size(), 16u);
  EXPECT_EQ(kParams[0].name, "run-mode");
  EXPECT_EQ(kParams[1].name, "image");
  EXPECT_EQ(kParams[2].name, "drawable");
  EXPECT_EQ(kParams[9].description, "Lighlight0 Extent  [1.0 - 100.0]");
  const auto& table = setting_specs();
  for (std::size_t i = 0; i < table.size(); ++i) {
    const ParamRow& row = kParams[kFirstSettingParam + i];
    EXPECT_EQ(row.name, table[i].name);
    EXPECT_EQ(row.description.size(), 32u) << row.name;
    EXPECT_EQ(row.type == ParamType::real, table[i].kind == SettingKind::real) << row.name;
  }
}

// The descriptions' ranges are the enforced ranges, except the two lower bounds of 0.0
// shown for s_extent and s_amp, which callers have always seen.
TEST(ParameterTable, DescribedRangesMatchTheEnforcedOnes) {
  const auto& table = setting_specs();
  for (std::size_t i = 0; i < table.size(); ++i) {
    const std::string text(kParams[kFirstSettingParam + i].description.substr(19));
    double lower = 0;
    double upper = 0;
    ASSERT_EQ(std::sscanf(text.c_str(), "[%lf - %lf]", &lower, &upper), 2) << text;
    const bool shown_as_zero = table[i].name == "s_extent" || table[i].name == "s_amp";
    EXPECT_EQ(lower, shown_as_zero ? 0.0 : table[i].lower) << table[i].name;
    EXPECT_EQ(upper, table[i].upper) << table[i].name;
  }
}

}  // namespace
}  // namespace orvex
