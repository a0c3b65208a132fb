#include "engine/filter_settings.hpp"

#include <cmath>
#include <cstring>

namespace orvex {

namespace {

constexpr SettingDescriptor real(std::string_view name, double def, double lower, double upper,
                           double FilterSettings::*field) {
  return {name, SettingKind::real, def, lower, upper, upper, field, nullptr};
}

constexpr SettingDescriptor integer(std::string_view name, double def, double lower, double upper,
                              double above_upper, std::int32_t FilterSettings::*field) {
  return {name, SettingKind::integer, def, lower, upper, above_upper, nullptr, field};
}

constexpr std::array<SettingDescriptor, kSettingCount> kSpecs = {{
    real("brightness", 50, 1, 100, &FilterSettings::brightness),
    integer("threshold", 250, 0, 511, 511, &FilterSettings::threshold),
    // An unknown threshold type falls back to "Each of RGB", not to the last type.
    integer("threshold_type", 0, 0, 2, 0, &FilterSettings::threshold_type),
    real("angle", 0, 0, 359, &FilterSettings::angle),
    integer("line_type", 2, 1, 4, 4, &FilterSettings::line_type),
    real("h0_density", 100, 0, 100, &FilterSettings::h0_density),
    real("h0_extent", 7, 1, 100, &FilterSettings::h0_extent),
    real("h1_density", 0, 0, 100, &FilterSettings::h1_density),
    real("h1_extent", 7, 1, 100, &FilterSettings::h1_extent),
    real("s_density", 25, 0, 100, &FilterSettings::s_density),
    real("s_extent", 25, 1, 100, &FilterSettings::s_extent),
    real("s_amp", 50, 1, 100, &FilterSettings::s_amp),
    real("s_dephasing", 20, 0, 100, &FilterSettings::s_dephasing),
}};

bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const char x = a[i] == '-' ? '_' : a[i];
    const char y = b[i] == '-' ? '_' : b[i];
    if (x != y) return false;
  }
  return true;
}

void clamp_field(FilterSettings& settings, const SettingDescriptor& setting) {
  if (setting.kind == SettingKind::real) {
    double& value = settings.*setting.real_field;
    if (std::isnan(value))
      value = setting.default_value;
    else if (value > setting.upper)
      value = setting.above_upper;
    else if (value < setting.lower)
      value = setting.lower;
  } else {
    std::int32_t& value = settings.*setting.integer_field;
    if (value > setting.upper)
      value = static_cast<std::int32_t>(setting.above_upper);
    else if (value < setting.lower)
      value = static_cast<std::int32_t>(setting.lower);
  }
}

}  // namespace

const std::array<SettingDescriptor, kSettingCount>& setting_descriptors() { return kSpecs; }

const SettingDescriptor* find_setting(std::string_view name) {
  for (const SettingDescriptor& setting : kSpecs)
    if (same_name(setting.name, name)) return &setting;
  return nullptr;
}

FilterSettings default_settings() {
  FilterSettings settings{};
  for (const SettingDescriptor& setting : kSpecs) {
    if (setting.kind == SettingKind::real)
      settings.*setting.real_field = setting.default_value;
    else
      settings.*setting.integer_field = static_cast<std::int32_t>(setting.default_value);
  }
  return settings;
}

double setting_value(const FilterSettings& settings, const SettingDescriptor& descriptor) {
  return descriptor.kind == SettingKind::real ? settings.*descriptor.real_field
                                        : static_cast<double>(settings.*descriptor.integer_field);
}

void clamp_settings(FilterSettings& settings) {
  for (const SettingDescriptor& setting : kSpecs) clamp_field(settings, setting);
}

ClampedSettings::ClampedSettings() : values_(default_settings()) {}

ClampedSettings::ClampedSettings(const FilterSettings& raw) : values_(raw) {
  clamp_settings(values_);
}

ClampedSettings ClampedSettings::with(const SettingDescriptor& descriptor, double value) const {
  ClampedSettings changed = *this;
  if (descriptor.kind == SettingKind::real) {
    changed.values_.*descriptor.real_field = value;
  } else {
    // Out of int32 range (or not a number) the field's own clamping decides.
    const double whole = std::isnan(value) ? descriptor.default_value : std::nearbyint(value);
    const double limited = std::fmax(-2147483648.0, std::fmin(2147483647.0, whole));
    changed.values_.*descriptor.integer_field = static_cast<std::int32_t>(limited);
  }
  clamp_field(changed.values_, descriptor);
  return changed;
}

bool ClampedSettings::operator==(const ClampedSettings& other) const {
  for (const SettingDescriptor& descriptor : kSpecs)
    if (setting_value(values_, descriptor) != setting_value(other.values_, descriptor)) return false;
  return true;
}

std::optional<ClampedSettings> settings_from_record(std::span<const std::byte> record) {
  if (record.size() != sizeof(FilterSettings)) return std::nullopt;
  FilterSettings raw;
  std::memcpy(&raw, record.data(), sizeof raw);
  return ClampedSettings(raw);
}

}  // namespace orvex
