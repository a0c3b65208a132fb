#include "ui/dialog.hpp"

#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>

#include <array>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "plugin/i18n.hpp"
#include "plugin/plugin_state.hpp"
#include "ui/control_table.hpp"
#include "ui/preview_render.hpp"
#include "ui/window_icon.hpp"

namespace orvex {

namespace {

// Names the host and the help system know the plug-in by: never translated.
constexpr const char* kTitle = "Orvex 1.0.0";
constexpr const char* kRole = "plugin-orvex";
constexpr const char* kHelpId = "plugin-orvex";
constexpr const char* kProgramName = "orvex";

constexpr gint kScaleWidth = 200;
constexpr gint kDefaultSpinWidth = 0;

struct WidgetDestroyer {
  void operator()(GtkWidget* widget) const { gtk_widget_destroy(widget); }
};
using OwnedDialog = std::unique_ptr<GtkWidget, WidgetDestroyer>;

const SettingSpec& spec_named(std::string_view name) {
  for (const SettingSpec& setting : setting_specs())
    if (setting.name == name) return setting;
  throw std::logic_error("dialog control without a setting: " + std::string(name));
}

const ControlRow* control_at(DialogPage page, int row) {
  for (const ControlRow& control : kControls)
    if (control.page == page && control.row == row) return &control;
  return nullptr;
}

void invalidate_on(GObject* emitter, const char* signal, GimpPreview* preview) {
  g_signal_connect_swapped(emitter, signal, G_CALLBACK(gimp_preview_invalidate), preview);
}

// The adjustment writes straight into the settings field; then the preview is asked
// to render again. Connecting only after creation keeps construction from rendering.
void add_scale_entry(GtkTable* table, const ControlRow& control, GimpPreview* preview) {
  const SettingSpec& setting = spec_named(control.setting);
  const bool is_real = setting.kind == SettingKind::real;
  double* real_field = is_real ? &(settings.*setting.real_field) : nullptr;
  gint* int_field = is_real ? nullptr : &(settings.*setting.integer_field);
  const double value = is_real ? *real_field : static_cast<double>(*int_field);

  GtkObject* adjustment = gimp_scale_entry_new(
      table, 0, control.row, _(control.label), kScaleWidth, kDefaultSpinWidth, value, setting.lower,
      setting.upper, control.step, control.page_step, control.digits, TRUE, 0, 0, _(control.tooltip),
      nullptr);
  if (is_real)
    g_signal_connect(adjustment, "value-changed", G_CALLBACK(gimp_double_adjustment_update),
                     real_field);
  else
    g_signal_connect(adjustment, "value-changed", G_CALLBACK(gimp_int_adjustment_update),
                     int_field);
  invalidate_on(G_OBJECT(adjustment), "value-changed", preview);
}

void add_threshold_type_group(GtkTable* table, GimpPreview* preview) {
  GtkWidget* each = nullptr;
  GtkWidget* average = nullptr;
  GtkWidget* weighted = nullptr;
  GtkWidget* frame = gimp_int_radio_group_new(
      TRUE, _("Threshold Type"), G_CALLBACK(gimp_radio_button_update), &settings.threshold_type,
      settings.threshold_type,
      _("Each of RGB"), 0, &each,
      _("RGB Average"), 1, &average,
      _("Weighted RGB Agerage"), 2, &weighted,
      static_cast<const char*>(nullptr));
  gtk_table_attach_defaults(table, frame, 1, 2, kThresholdTypeRow, kThresholdTypeRow + 1);
  for (GtkWidget* button : {each, average, weighted})
    invalidate_on(G_OBJECT(button), "toggled", preview);
}

GtkTable* add_page_table(GtkWidget* page_box, int rows) {
  GtkWidget* table = gtk_table_new(rows, 4, FALSE);
  gtk_table_set_col_spacings(GTK_TABLE(table), 6);
  gtk_table_set_row_spacings(GTK_TABLE(table), 6);
  gtk_box_pack_start(GTK_BOX(page_box), table, FALSE, FALSE, 0);
  return GTK_TABLE(table);
}

void fill_page(GtkTable* table, const PageLayout& layout, GimpPreview* preview) {
  for (int row = 0; row < layout.rows; ++row) {
    if (layout.page == DialogPage::general && row == kThresholdTypeRow)
      add_threshold_type_group(table, preview);
    else if (const ControlRow* control = control_at(layout.page, row))
      add_scale_entry(table, *control, preview);
  }
}

GtkWidget* new_dialog() {
  return gimp_dialog_new(kTitle, kRole, nullptr, static_cast<GtkDialogFlags>(0),
                         gimp_standard_help_func, kHelpId,
                         "gtk-cancel", GTK_RESPONSE_CANCEL,
                         "gtk-ok", GTK_RESPONSE_OK,
                         static_cast<const char*>(nullptr));
}

void build_dialog(GtkWidget* dialog, GimpDrawable* drawable) {
  GtkWindow* window = GTK_WINDOW(dialog);
  set_window_icon(window);
  gtk_dialog_set_alternative_button_order(GTK_DIALOG(dialog), GTK_RESPONSE_OK,
                                          GTK_RESPONSE_CANCEL, -1);
  gimp_window_set_transient(window);

  GtkWidget* main_box = gtk_vbox_new(FALSE, 12);
  gtk_container_set_border_width(GTK_CONTAINER(main_box), 12);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), main_box, TRUE,
                     TRUE, 0);

  GtkWidget* preview = gimp_drawable_preview_new(drawable, nullptr);
  gtk_box_pack_start(GTK_BOX(main_box), preview, TRUE, TRUE, 0);
  gtk_widget_show(preview);
  g_signal_connect(preview, "invalidated", G_CALLBACK(preview_invalidated), preview);

  GtkWidget* notebook = gtk_notebook_new();
  gtk_box_pack_start(GTK_BOX(main_box), notebook, FALSE, FALSE, 0);

  std::array<GtkWidget*, kPages.size()> page_boxes{};
  for (std::size_t i = 0; i < kPages.size(); ++i) {
    page_boxes[i] = gtk_vbox_new(FALSE, 2);
    gtk_container_set_border_width(GTK_CONTAINER(page_boxes[i]), 2);
    gtk_notebook_append_page(GTK_NOTEBOOK(notebook), page_boxes[i], nullptr);
    gtk_notebook_set_tab_label_text(GTK_NOTEBOOK(notebook), page_boxes[i], _(kPages[i].tab));
  }
  for (std::size_t i = 0; i < kPages.size(); ++i)
    fill_page(add_page_table(page_boxes[i], kPages[i].rows), kPages[i], GIMP_PREVIEW(preview));
}

}  // namespace

bool show_dialog(GimpDrawable* drawable) {
  gimp_ui_init(kProgramName, TRUE);
  const OwnedDialog dialog(new_dialog());
  build_dialog(dialog.get(), drawable);
  gtk_widget_show_all(dialog.get());
  return gimp_dialog_run(GIMP_DIALOG(dialog.get())) == GTK_RESPONSE_OK;
}

}  // namespace orvex
