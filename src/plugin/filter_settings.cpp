#include "plugin/filter_settings.hpp"

#include <cmath>

namespace orvex {

namespace {

constexpr SettingSpec real(std::string_view name, double def, double lower, double upper,
                           double FilterSettings::*field) {
  return {name, SettingKind::real, def, lower, upper, upper, field, nullptr};
}

constexpr SettingSpec integer(std::string_view name, double def, double lower, double upper,
                              double above_upper, std::int32_t FilterSettings::*field) {
  return {name, SettingKind::integer, def, lower, upper, above_upper, nullptr, field};
}

constexpr std::array<SettingSpec, kSettingCount> kSpecs = {{
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

}  // namespace

const std::array<SettingSpec, kSettingCount>& setting_specs() { return kSpecs; }

FilterSettings default_settings() {
  FilterSettings settings{};
  for (const SettingSpec& setting : kSpecs) {
    if (setting.kind == SettingKind::real)
      settings.*setting.real_field = setting.default_value;
    else
      settings.*setting.integer_field = static_cast<std::int32_t>(setting.default_value);
  }
  return settings;
}

void clamp_settings(FilterSettings& settings) {
  for (const SettingSpec& setting : kSpecs) {
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
}

}  // namespace orvex
