#include "engine/filter_settings.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace orvex {
namespace {

struct Edge {
  const char* name;
  double given;
  double clamped;
};

TEST(Settings, OutOfRangeValuesTakeTheirBoundOrDefault) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<Edge> edges = {
      {"brightness", 0.5, 1},       {"brightness", 150, 100},  {"brightness", NAN, 50},
      {"threshold", -5, 0},         {"threshold", 600, 511},   {"threshold_type", 3, 0},
      {"threshold_type", -1, 0},    {"angle", -10, 0},         {"angle", 400, 359},
      {"angle", 359, 359},          {"line_type", 0, 1},       {"line_type", 7, 4},
      {"s_extent", 0, 1},           {"s_amp", 0, 1},           {"s_density", 0, 0},
      {"h0_extent", -inf, 1},       {"s_dephasing", inf, 100}, {"h1_extent", NAN, 7},
  };
  for (const Edge& edge : edges) {
    const SettingSpec& spec = *find_setting(edge.name);
    FilterSettings raw = default_settings();
    if (spec.kind == SettingKind::real)
      raw.*spec.real_field = edge.given;
    else
      raw.*spec.integer_field = static_cast<std::int32_t>(edge.given);
    EXPECT_EQ(setting_value(ClampedSettings(raw).values(), spec), edge.clamped)
        << edge.name << " " << edge.given;
  }
}

TEST(Settings, AnEditClampsItsOwnFieldAndRoundsWholeNumbers) {
  const ClampedSettings base;
  const ClampedSettings edited = base.with(*find_setting("threshold-type"), 2)
                                     .with(*find_setting("threshold"), 200.6)
                                     .with(*find_setting("line_type"), 9)
                                     .with(*find_setting("angle"), 400)
                                     .with(*find_setting("line_type"), 1e300);
  EXPECT_EQ(edited->threshold_type, 2);
  EXPECT_EQ(edited->threshold, 201);
  EXPECT_EQ(edited->line_type, 4);
  EXPECT_EQ(edited->angle, 359);
  EXPECT_EQ(edited->brightness, 50);
  EXPECT_FALSE(edited == base);
  EXPECT_EQ(find_setting("no-such-setting"), nullptr);
}

TEST(Settings, OnlyStoredRecordsOfTheRightSizeLoad) {
  FilterSettings stored = default_settings();
  stored.threshold = 120;
  stored.s_amp = 1e9;  // damaged: loads clamped
  const auto bytes = std::as_bytes(std::span(&stored, 1));
  const std::optional<ClampedSettings> loaded = settings_from_record(bytes);
  ASSERT_TRUE(loaded);
  EXPECT_EQ((*loaded)->threshold, 120);
  EXPECT_EQ((*loaded)->s_amp, 100);
  EXPECT_FALSE(settings_from_record(bytes.first(40)));
  std::vector<std::byte> longer(200);
  EXPECT_FALSE(settings_from_record(longer));
}

}  // namespace
}  // namespace orvex
