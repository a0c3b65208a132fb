// The thirteen user settings, their defaults, enforced ranges and clamping.
// The record's memory layout is also its stored form (the host keeps the bytes).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace orvex {

struct FilterSettings {
  double brightness;
  std::int32_t threshold;
  std::int32_t threshold_type;
  double angle;
  std::int32_t line_type;
  std::int32_t reserved;  // alignment; stored and loaded, never read
  double h0_density;
  double h0_extent;
  double h1_density;
  double h1_extent;
  double s_density;
  double s_extent;
  double s_amp;
  double s_dephasing;
};

static_assert(sizeof(FilterSettings) == 96);
static_assert(offsetof(FilterSettings, brightness) == 0);
static_assert(offsetof(FilterSettings, threshold) == 8);
static_assert(offsetof(FilterSettings, threshold_type) == 12);
static_assert(offsetof(FilterSettings, angle) == 16);
static_assert(offsetof(FilterSettings, line_type) == 24);
static_assert(offsetof(FilterSettings, reserved) == 28);
static_assert(offsetof(FilterSettings, h0_density) == 32);
static_assert(offsetof(FilterSettings, h0_extent) == 40);
static_assert(offsetof(FilterSettings, h1_density) == 48);
static_assert(offsetof(FilterSettings, h1_extent) == 56);
static_assert(offsetof(FilterSettings, s_density) == 64);
static_assert(offsetof(FilterSettings, s_extent) == 72);
static_assert(offsetof(FilterSettings, s_amp) == 80);
static_assert(offsetof(FilterSettings, s_dephasing) == 88);

inline constexpr std::size_t kStoredSettingsSize = sizeof(FilterSettings);

enum class SettingKind { real, integer };

// One row per setting: the single place where names, defaults and ranges live.
struct SettingSpec {
  std::string_view name;
  SettingKind kind;
  double default_value;
  double lower;
  double upper;
  // Fallback for a value above `upper`; equals `upper` except for threshold_type.
  double above_upper;
  double FilterSettings::*real_field;
  std::int32_t FilterSettings::*integer_field;
};

inline constexpr std::size_t kSettingCount = 13;

const std::array<SettingSpec, kSettingCount>& setting_specs();

FilterSettings default_settings();

// Forces every field into its enforced range, in field order. A real value
// that is not a number becomes the field's default.
void clamp_settings(FilterSettings& settings);

}  // namespace orvex
