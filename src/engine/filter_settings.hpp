// The thirteen user settings, their defaults, enforced ranges and clamping.
// The record's memory layout is also its stored form (the host keeps the bytes).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
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

// Stored records written by earlier versions must keep loading.
static_assert(sizeof(FilterSettings) == 96);
static_assert(offsetof(FilterSettings, threshold) == 8 && offsetof(FilterSettings, line_type) == 24);
static_assert(offsetof(FilterSettings, h0_density) == 32 && offsetof(FilterSettings, s_dephasing) == 88);

enum class SettingKind { real, integer };

// One row per setting: the single place where names, defaults and ranges live.
struct SettingDescriptor {
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

const std::array<SettingDescriptor, kSettingCount>& setting_descriptors();

// The row of a setting by its name, with '-' and '_' taken as the same; null when unknown.
const SettingDescriptor* find_setting(std::string_view name);

FilterSettings default_settings();

double setting_value(const FilterSettings& settings, const SettingDescriptor& descriptor);

// Forces every field into its enforced range, in field order. A real value
// that is not a number becomes the field's default.
void clamp_settings(FilterSettings& settings);

// Settings forced into range where they enter (parameters, a stored record, a dialog edit):
// the only form the renderer takes.
class ClampedSettings {
 public:
  ClampedSettings();
  explicit ClampedSettings(const FilterSettings& raw);

  const FilterSettings& values() const { return values_; }
  const FilterSettings* operator->() const { return &values_; }

  // The same settings with one field changed and clamped to its range; integer fields take
  // the nearest whole number, as the dialog's integer controls do.
  ClampedSettings with(const SettingDescriptor& descriptor, double value) const;

  bool operator==(const ClampedSettings& other) const;

 private:
  FilterSettings values_;
};

// A stored last-values record, or nothing when it has another size (an older or foreign store).
std::optional<ClampedSettings> settings_from_record(std::span<const std::byte> record);

}  // namespace orvex
