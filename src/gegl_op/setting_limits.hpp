// The engine's defaults and enforced ranges, read where the operation declares its properties.
#pragma once

#include <string_view>

#include "engine/filter_settings.hpp"

namespace orvex {

// The row of a setting the operation names; the names are the engine's, so one is always there.
inline const SettingDescriptor& setting_row(std::string_view name) {
  return *find_setting(name);
}

inline double setting_default(std::string_view name) { return setting_row(name).default_value; }
inline double setting_lower(std::string_view name) { return setting_row(name).lower; }
inline double setting_upper(std::string_view name) { return setting_row(name).upper; }
inline int setting_default_int(std::string_view name) { return static_cast<int>(setting_default(name)); }
inline int setting_lower_int(std::string_view name) { return static_cast<int>(setting_lower(name)); }
inline int setting_upper_int(std::string_view name) { return static_cast<int>(setting_upper(name)); }

}  // namespace orvex
