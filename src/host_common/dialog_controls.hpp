// The dialog's scale entries: where each sits, what it says and how it steps.
// Bounds are not repeated here: they come from the setting's enforced range, so a
// value chosen in the dialog is never changed by clamping.
#pragma once

#include <array>
#include <string_view>

#include "host_common/i18n.hpp"

namespace orvex {

enum class DialogPage { general, highlight, spectrum };

struct ControlRow {
  DialogPage page;
  int row;
  const char* label;    // untranslated; passed through gettext when the dialog is built
  const char* tooltip;  // untranslated
  std::string_view setting;
  double step;
  double page_step;
  unsigned digits;
};

// Row 2 of the General page holds the threshold type radio group: its title and one label
// per type, in value order.
inline constexpr int kThresholdTypeRow = 2;
inline constexpr const char* kThresholdTypeTitle = N_("Threshold Type");
inline constexpr std::array<const char*, 3> kThresholdTypeLabels = {
    N_("Each of RGB"), N_("RGB Average"), N_("Weighted RGB Average")};

inline constexpr std::array<ControlRow, 12> kControls = {{
    {DialogPage::general, 0, N_("Brightness"), N_("Brightness of Orvex Lines"), "brightness", 1, 5, 1},
    {DialogPage::general, 1, N_("Threshold"), N_("Threshold for Highlight"), "threshold", 1, 2.55, 0},
    {DialogPage::general, 3, N_("Angle"), N_("Angle of Orvex Lines"), "angle", 1, 11.25, 1},
    {DialogPage::general, 4, N_("Line Type"), N_("Type of Orvex"), "line_type", 1, 1, 0},
    {DialogPage::highlight, 0, N_("H0 Density"), N_("Highlight0 Density"), "h0_density", 1, 5, 1},
    {DialogPage::highlight, 1, N_("H0 Extent"), N_("Highlight0 Extent"), "h0_extent", 1, 5, 1},
    {DialogPage::highlight, 2, N_("H1 Density"), N_("Highlight1 Density"), "h1_density", 1, 5, 1},
    {DialogPage::highlight, 3, N_("H1 Extent"), N_("Highlight1 Extent"), "h1_extent", 1, 5, 1},
    {DialogPage::spectrum, 0, N_("SP Density"), N_("Spectrum Density"), "s_density", 1, 5, 1},
    {DialogPage::spectrum, 1, N_("SP Extent"), N_("Spectrum Extent"), "s_extent", 1, 5, 1},
    {DialogPage::spectrum, 2, N_("SP Amp"), N_("Spectrum Amp"), "s_amp", 1, 5, 1},
    {DialogPage::spectrum, 3, N_("SP Phase"), N_("Spectrum Phase"), "s_dephasing", 1, 5, 1},
}};

struct PageLayout {
  DialogPage page;
  const char* tab;  // untranslated
  int rows;
};

inline constexpr std::array<PageLayout, 3> kPages = {{
    {DialogPage::general, N_("General"), 5},
    {DialogPage::highlight, N_("Highlight"), 4},
    {DialogPage::spectrum, N_("Spectrum"), 4},
}};

}  // namespace orvex
