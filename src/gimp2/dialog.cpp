#include "gimp2/dialog.hpp"

#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>

#include <array>
#include <memory>
#include <stdexcept>
#include <string>

#include "gimp2/preview_pane.hpp"
#include "gimp2/window_icon.hpp"
#include "host_common/dialog_controls.hpp"
#include "host_common/dialog_memory.hpp"

namespace orvex {

namespace {

// Names the host and the help system know the plug-in by: never translated.
constexpr const char* kTitle = "Orvex 1.0.0";
constexpr const char* kRole = "plugin-orvex";
constexpr const char* kHelpId = "plugin-orvex";
constexpr const char* kProgramName = "orvex";

constexpr gint kResponseReset = 1;
constexpr gint kScaleWidth = 200;
constexpr gint kDefaultSpinWidth = 0;

struct WidgetDestroyer {
  void operator()(GtkWidget* widget) const { gtk_widget_destroy(widget); }
};
using OwnedDialog = std::unique_ptr<GtkWidget, WidgetDestroyer>;

// The run's settings, the preview that shows them, and what each control edits.
struct DialogModel {
  ClampedSettings& settings;
  PreviewPane preview;

  void set(const SettingDescriptor& descriptor, double value) {
    settings = settings.with(descriptor, value);
    preview.invalidate();
  }
};

struct ControlBinding {
  DialogModel* model;
  const SettingDescriptor* descriptor;
  GtkAdjustment* adjustment;
};

// What Reset puts back besides the scales.
struct DialogControls {
  std::array<ControlBinding, kControls.size()> bindings{};
  GtkRadioButton* threshold_type = nullptr;  // one button of the group
};

const SettingDescriptor& spec_named(std::string_view name) {
  if (const SettingDescriptor* descriptor = find_setting(name)) return *descriptor;
  throw std::logic_error("dialog control without a setting: " + std::string(name));
}

const ControlRow* control_at(DialogPage page, int row) {
  for (const ControlRow& control : kControls)
    if (control.page == page && control.row == row) return &control;
  return nullptr;
}

void on_value_changed(GtkAdjustment* adjustment, ControlBinding* binding) {
  binding->model->set(*binding->descriptor, gtk_adjustment_get_value(adjustment));
}

// Both the button turned off and the one turned on report; only the latter carries the value.
void on_threshold_type_toggled(GtkToggleButton* button, DialogModel* model) {
  if (gtk_toggle_button_get_active(button))
    model->set(spec_named("threshold_type"),
               GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "gimp-item-data")));
  else
    model->preview.invalidate();
}

// Connected only after creation, so that building the dialog renders nothing.
void add_scale_entry(GtkTable* table, const ControlRow& control, ControlBinding& binding) {
  const SettingDescriptor& setting = *binding.descriptor;
  GtkObject* const adjustment = gimp_scale_entry_new(
      table, 0, control.row, _(control.label), kScaleWidth, kDefaultSpinWidth,
      setting_value(binding.model->settings.values(), setting), setting.lower, setting.upper,
      control.step, control.page_step, control.digits, TRUE, 0, 0, _(control.tooltip), nullptr);
  binding.adjustment = GTK_ADJUSTMENT(adjustment);
  g_signal_connect(adjustment, "value-changed", G_CALLBACK(on_value_changed), &binding);
}

GtkRadioButton* first_radio_button(GtkWidget* frame) {
  GList* children = gtk_container_get_children(GTK_CONTAINER(gtk_bin_get_child(GTK_BIN(frame))));
  GtkRadioButton* button = children ? GTK_RADIO_BUTTON(children->data) : nullptr;
  g_list_free(children);
  return button;
}

GtkRadioButton* add_threshold_type_group(GtkTable* table, DialogModel& model) {
  GtkWidget* frame = gimp_int_radio_group_new(
      TRUE, _(kThresholdTypeTitle), G_CALLBACK(on_threshold_type_toggled), &model, model.settings->threshold_type,
      _(kThresholdTypeLabels[0]), 0, nullptr,
      _(kThresholdTypeLabels[1]), 1, nullptr,
      _(kThresholdTypeLabels[2]), 2, nullptr,
      static_cast<const char*>(nullptr));
  gtk_table_attach_defaults(table, frame, 1, 2, kThresholdTypeRow, kThresholdTypeRow + 1);
  return first_radio_button(frame);
}

// Every control to its default; their signals bring the settings and the preview along.
void reset_to_defaults(DialogModel& model, DialogControls& controls) {
  const FilterSettings defaults = default_settings();
  for (const ControlBinding& binding : controls.bindings)
    gtk_adjustment_set_value(binding.adjustment, setting_value(defaults, *binding.descriptor));
  if (controls.threshold_type) gimp_int_radio_group_set_active(controls.threshold_type, defaults.threshold_type);
  model.settings = ClampedSettings();
  model.preview.invalidate();
}

DialogMemory remembered() {
  const std::unique_ptr<GimpParasite, void (*)(GimpParasite*)> parasite(gimp_get_parasite(kDialogMemoryParasite),
                                                                       gimp_parasite_free);
  if (!parasite) return {};
  return parse_dialog_memory({static_cast<const char*>(gimp_parasite_data(parasite.get())),
                              static_cast<std::size_t>(gimp_parasite_data_size(parasite.get()))});
}

void remember(GtkWindow* window, const PreviewPane& preview) {
  DialogMemory memory{.zoom = preview.zoom()};
  gtk_window_get_size(window, &memory.width, &memory.height);
  const std::string text = format_dialog_memory(memory);
  const std::unique_ptr<GimpParasite, void (*)(GimpParasite*)> parasite(
      gimp_parasite_new(kDialogMemoryParasite, GIMP_PARASITE_PERSISTENT, static_cast<guint32>(text.size()),
                        text.data()),
      gimp_parasite_free);
  gimp_attach_parasite(parasite.get());
}

GtkTable* add_page_table(GtkWidget* page_box, int rows) {
  GtkWidget* table = gtk_table_new(rows, 4, FALSE);
  gtk_table_set_col_spacings(GTK_TABLE(table), 6);
  gtk_table_set_row_spacings(GTK_TABLE(table), 6);
  gtk_box_pack_start(GTK_BOX(page_box), table, FALSE, FALSE, 0);
  return GTK_TABLE(table);
}

GtkWidget* new_dialog() {
  return gimp_dialog_new(kTitle, kRole, nullptr, static_cast<GtkDialogFlags>(0),
                         gimp_standard_help_func, kHelpId,
                         GIMP_STOCK_RESET, kResponseReset,
                         "gtk-cancel", GTK_RESPONSE_CANCEL,
                         "gtk-ok", GTK_RESPONSE_OK,
                         static_cast<const char*>(nullptr));
}

void build_dialog(GtkWidget* dialog, DialogModel& model, DialogControls& controls) {
  GtkWindow* window = GTK_WINDOW(dialog);
  set_window_icon(window);
  gtk_dialog_set_alternative_button_order(GTK_DIALOG(dialog), kResponseReset, GTK_RESPONSE_OK, GTK_RESPONSE_CANCEL,
                                          -1);
  gimp_window_set_transient(window);

  GtkWidget* main_box = gtk_vbox_new(FALSE, 12);
  gtk_container_set_border_width(GTK_CONTAINER(main_box), 12);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), main_box, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(main_box), model.preview.widget(), TRUE, TRUE, 0);
  gtk_widget_show(model.preview.widget());

  GtkWidget* notebook = gtk_notebook_new();
  gtk_box_pack_start(GTK_BOX(main_box), notebook, FALSE, FALSE, 0);
  for (const PageLayout& layout : kPages) {
    GtkWidget* page_box = gtk_vbox_new(FALSE, 2);
    gtk_container_set_border_width(GTK_CONTAINER(page_box), 2);
    gtk_notebook_append_page(GTK_NOTEBOOK(notebook), page_box, nullptr);
    gtk_notebook_set_tab_label_text(GTK_NOTEBOOK(notebook), page_box, _(layout.tab));
    GtkTable* table = add_page_table(page_box, layout.rows);
    for (int row = 0; row < layout.rows; ++row) {
      if (layout.page == DialogPage::general && row == kThresholdTypeRow) {
        controls.threshold_type = add_threshold_type_group(table, model);
      } else if (const ControlRow* control = control_at(layout.page, row)) {
        ControlBinding& binding = controls.bindings[static_cast<std::size_t>(control - kControls.data())];
        binding = {&model, &spec_named(control->setting), nullptr};
        add_scale_entry(table, *control, binding);
      }
    }
  }
}

}  // namespace

bool show_dialog(gint32 drawable, ClampedSettings& settings) {
  gimp_ui_init(kProgramName, TRUE);
  const DialogMemory memory = remembered();
  DialogModel model{settings, PreviewPane(drawable, settings, memory.zoom)};
  DialogControls controls;
  const OwnedDialog dialog(new_dialog());
  build_dialog(dialog.get(), model, controls);
  if (memory.width > 0)
    gtk_window_set_default_size(GTK_WINDOW(dialog.get()), memory.width, memory.height);
  gtk_widget_show_all(dialog.get());
  gint response = gimp_dialog_run(GIMP_DIALOG(dialog.get()));
  for (; response == kResponseReset; response = gimp_dialog_run(GIMP_DIALOG(dialog.get())))
    reset_to_defaults(model, controls);
  remember(GTK_WINDOW(dialog.get()), model.preview);
  return response == GTK_RESPONSE_OK;
}

}  // namespace orvex
