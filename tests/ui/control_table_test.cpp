#include "ui/control_table.hpp"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <utility>

#include "plugin/filter_settings.hpp"

namespace orvex {
namespace {

int rows_of(DialogPage page) {
  for (const PageLayout& layout : kPages)
    if (layout.page == page) return layout.rows;
  return -1;
}

// The dialog looks each control's setting up by name and takes its bounds from there.
TEST(DialogControls, EverySettingButTheThresholdTypeHasExactlyOneControl) {
  std::map<std::string, int> controls_per_setting;
  for (const ControlRow& control : kControls) ++controls_per_setting[std::string(control.setting)];
  for (const SettingSpec& setting : setting_specs()) {
    const int expected = setting.name == "threshold_type" ? 0 : 1;  // it has the radio buttons
    EXPECT_EQ(controls_per_setting[std::string(setting.name)], expected) << setting.name;
    controls_per_setting.erase(std::string(setting.name));
  }
  EXPECT_TRUE(controls_per_setting.empty()) << "a control names an unknown setting: "
                                            << controls_per_setting.begin()->first;
}

TEST(DialogControls, EachControlHasARowOfItsOwnInsideItsPageTable) {
  std::set<std::pair<DialogPage, int>> taken{{DialogPage::general, kThresholdTypeRow}};
  for (const ControlRow& control : kControls) {
    EXPECT_GE(control.row, 0) << control.label;
    EXPECT_LT(control.row, rows_of(control.page)) << control.label;
    EXPECT_TRUE(taken.insert({control.page, control.row}).second) << control.label;
  }
  EXPECT_EQ(taken.size(), static_cast<std::size_t>(rows_of(DialogPage::general) +
                                                   rows_of(DialogPage::highlight) +
                                                   rows_of(DialogPage::spectrum)))
      << "a table row is left empty";
}

// Whole-number settings must not show decimals, real ones show one.
TEST(DialogControls, DigitsFollowTheSettingKind) {
  for (const ControlRow& control : kControls) {
    for (const SettingSpec& setting : setting_specs()) {
      if (setting.name != control.setting) continue;
      EXPECT_EQ(control.digits, setting.kind == SettingKind::integer ? 0u : 1u) << control.label;
    }
  }
}

}  // namespace
}  // namespace orvex
