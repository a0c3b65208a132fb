// The procedure as callers and menus know it: name, menu entry, texts and parameters.
#pragma once

#include <array>
#include <string_view>

#include "engine/filter_settings.hpp"
#include "host_common/i18n.hpp"

namespace orvex {

enum class ParamType { int32, image, drawable, real };

struct ParamRow {
  ParamType type;
  std::string_view name;
  std::string_view description;
};

inline constexpr std::string_view kProcedureName = "plugin-orvex";
inline constexpr const char* kMenuLabel = N_("Orvex...");
inline constexpr const char* kBlurb = N_("Orvex Filter");
inline constexpr std::string_view kMenuPath = "<Image>/Filters/Vandelkit/";
inline constexpr std::string_view kImageTypes = "RGB*, GRAY*";
inline constexpr std::string_view kAuthor = "Orvex developers <orvex-dev@users.noreply.example.org>";
inline constexpr std::string_view kDate = "2015";
// The help pages lie beside the executable, in help/<language>/, under this help domain; the dialog's
// Help button and F1 open the page of the help ID kProcedureName there, offline.
inline constexpr const char* kHelpDomain = "plugin-orvex";
inline constexpr const char* kHelpFolder = "help";

inline constexpr std::size_t kParamCount = 16;
inline constexpr std::size_t kFirstSettingParam = 3;

// The bracketed ranges are text for callers; the enforced ranges live with the settings.
inline constexpr std::array<ParamRow, kParamCount> kParams = {{
    {ParamType::int32, "run-mode", "Interactive=0, non-interactive=1"},
    {ParamType::image, "image", "Input image"},
    {ParamType::drawable, "drawable", "Input drawable"},
    {ParamType::real, "brightness", "Brightness         [1.0 - 100.0]"},
    {ParamType::int32, "threshold", "Threshold          [0   - 511  ]"},
    {ParamType::int32, "threshold_type", "Threshold Type     [0   -   2  ]"},
    {ParamType::real, "angle", "Angle              [0.0 - 359.0]"},
    {ParamType::int32, "line_type", "Line Type          [1   -   4  ]"},
    {ParamType::real, "h0_density", "Highlight0 Density [0.0 - 100.0]"},
    {ParamType::real, "h0_extent", "Lighlight0 Extent  [1.0 - 100.0]"},
    {ParamType::real, "h1_density", "Highlight1 Density [0.0 - 100.0]"},
    {ParamType::real, "h1_extent", "Highlight1 Extent  [1.0 - 100.0]"},
    {ParamType::real, "s_density", "Spectrum Density   [0.0 - 100.0]"},
    {ParamType::real, "s_extent", "Spectrum Extent    [0.0 - 100.0]"},
    {ParamType::real, "s_amp", "Spectrum Amp       [0.0 - 100.0]"},
    {ParamType::real, "s_dephasing", "Spectrum Dephasing [0.0 - 100.0]"},
}};

// The caller's description of a setting, with its range as text (for s_extent and s_amp it
// shows 0.0 although 1 is the lowest value used).
constexpr std::string_view setting_description(std::size_t setting) {
  return kParams[kFirstSettingParam + setting].description;
}
static_assert(kParams.size() == kFirstSettingParam + kSettingCount);

}  // namespace orvex
