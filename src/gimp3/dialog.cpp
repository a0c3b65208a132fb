#include "gimp3/dialog.hpp"

#include <libgimp/gimpui.h>

#include <array>
#include <memory>
#include <stdexcept>
#include <string>

#include "gimp3/gimp_owners.hpp"
#include "gimp3/preview_pane.hpp"
#include "host_common/dialog_controls.hpp"
#include "host_common/dialog_memory.hpp"
#include "window_icon_stream.hpp"

namespace orvex {

namespace {

// Names the host and the help system know the plug-in by: never translated.
constexpr const char* kTitle = "Orvex 1.0.0";
constexpr const char* kRole = "plugin-orvex";
constexpr const char* kHelpId = "plugin-orvex";
constexpr const char* kProgramName = "orvex";
// The buttons' words are GIMP's own, translated in its catalogue.
constexpr const char* kGimpDomain = "gimp30-libgimp";
constexpr gint kResponseReset = 1;
constexpr gint kScaleWidth = 200;

struct WidgetDestroyer {
  void operator()(GtkWidget* widget) const { gtk_widget_destroy(widget); }
};
using OwnedDialog = std::unique_ptr<GtkWidget, WidgetDestroyer>;

const SettingDescriptor& spec_named(std::string_view name) {
  if (const SettingDescriptor* descriptor = find_setting(name)) return *descriptor;
  throw std::logic_error("dialog control without a setting: " + std::string(name));
}

// The run's settings, the preview that shows them, and what each control edits.
struct DialogModel {
  ClampedSettings& settings;
  PreviewPane preview;
  const SettingDescriptor& threshold_type = spec_named("threshold_type");

  // Called from GTK's signal handlers, which nothing may unwind into: a failed edit is dropped.
  void set(const SettingDescriptor& descriptor, double value) noexcept {
    try {
      settings = settings.with(descriptor, value);
    } catch (...) {
      return;
    }
    preview.invalidate();
  }
};

struct ControlBinding {
  DialogModel* model;
  const SettingDescriptor* descriptor;
  GimpLabelSpin* spin;
};

// What Reset puts back besides the scales.
struct DialogControls {
  std::array<ControlBinding, kControls.size()> bindings{};
  GtkRadioButton* threshold_type = nullptr;  // one button of the group
};

void on_value_changed(GimpLabelSpin* spin, ControlBinding* binding) {
  binding->model->set(*binding->descriptor, gimp_label_spin_get_value(spin));
}

// Both the button turned off and the one turned on report; only the latter carries the value.
void on_threshold_type_toggled(GtkToggleButton* button, DialogModel* model) {
  if (gtk_toggle_button_get_active(button))
    model->set(model->threshold_type, GPOINTER_TO_INT(g_object_get_data(G_OBJECT(button), "gimp-item-data")));
}

// Connected only after creation, so that building the dialog renders nothing.
GtkWidget* new_scale_entry(const ControlRow& control, ControlBinding& binding, GtkSizeGroup* labels) {
  const SettingDescriptor& setting = *binding.descriptor;
  const double value = setting_value(binding.model->settings.values(), setting);
  GtkWidget* entry = gimp_scale_entry_new(_(control.label), value, setting.lower, setting.upper, control.digits);
  // GIMP 3.0 shows 0 in a new scale entry until its value is set again.
  gimp_label_spin_set_value(GIMP_LABEL_SPIN(entry), value);
  gimp_label_spin_set_increments(GIMP_LABEL_SPIN(entry), control.step, control.page_step);
  gimp_help_set_help_data(entry, _(control.tooltip), nullptr);
  gtk_widget_set_size_request(GTK_WIDGET(gimp_scale_entry_get_range(GIMP_SCALE_ENTRY(entry))), kScaleWidth, -1);
  gtk_size_group_add_widget(labels, gimp_labeled_get_label(GIMP_LABELED(entry)));
  binding.spin = GIMP_LABEL_SPIN(entry);
  g_signal_connect(entry, "value-changed", G_CALLBACK(on_value_changed), &binding);
  return entry;
}

GtkRadioButton* first_radio_button(GtkWidget* frame) {
  GList* children = gtk_container_get_children(GTK_CONTAINER(gtk_bin_get_child(GTK_BIN(frame))));
  GtkRadioButton* button = children ? GTK_RADIO_BUTTON(children->data) : nullptr;
  g_list_free(children);
  return button;
}

// Every control to its default; their signals bring the settings and the preview along.
void reset_to_defaults(DialogModel& model, DialogControls& controls) {
  const FilterSettings defaults = default_settings();
  for (const ControlBinding& binding : controls.bindings)
    gimp_label_spin_set_value(binding.spin, setting_value(defaults, *binding.descriptor));
  if (controls.threshold_type) gimp_int_radio_group_set_active(controls.threshold_type, defaults.threshold_type);
  model.settings = ClampedSettings();
  model.preview.invalidate();
}

using ParasiteOwner = std::unique_ptr<GimpParasite, void (*)(GimpParasite*)>;

DialogMemory remembered() {
  const ParasiteOwner parasite(gimp_get_parasite(kDialogMemoryParasite), gimp_parasite_free);
  if (!parasite) return {};
  guint32 size = 0;
  const auto* data = static_cast<const char*>(gimp_parasite_get_data(parasite.get(), &size));
  return parse_dialog_memory({data, size});
}

void remember(GtkWindow* window, const PreviewPane& preview) {
  DialogMemory memory{.zoom = preview.zoom()};
  gtk_window_get_size(window, &memory.width, &memory.height);
  const std::string text = format_dialog_memory(memory);
  const ParasiteOwner parasite(gimp_parasite_new(kDialogMemoryParasite, GIMP_PARASITE_PERSISTENT,
                                                 static_cast<guint32>(text.size()), text.data()),
                               gimp_parasite_free);
  gimp_attach_parasite(parasite.get());
}

GtkWidget* new_threshold_type_group(DialogModel& model) {
  return gimp_int_radio_group_new(
      TRUE, _(kThresholdTypeTitle), G_CALLBACK(on_threshold_type_toggled), &model, nullptr,
      model.settings->threshold_type, _(kThresholdTypeLabels[0]), 0, nullptr, _(kThresholdTypeLabels[1]), 1, nullptr,
      _(kThresholdTypeLabels[2]), 2, nullptr, static_cast<const char*>(nullptr));
}

void set_window_icon(GtkWindow* window) {
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  const GObjectOwner<GdkPixbuf> icon(gdk_pixbuf_new_from_inline(-1, kWindowIconStream, FALSE, nullptr));
  G_GNUC_END_IGNORE_DEPRECATIONS
  if (icon) gtk_window_set_icon(window, icon.get());
}

GtkWidget* new_dialog() {
  GtkWidget* dialog = gimp_dialog_new(kTitle, kRole, nullptr, static_cast<GtkDialogFlags>(0), gimp_standard_help_func,
                                      kHelpId, g_dgettext(kGimpDomain, "_Reset"), kResponseReset,
                                      g_dgettext(kGimpDomain, "_Cancel"), GTK_RESPONSE_CANCEL,
                                      g_dgettext(kGimpDomain, "_OK"), GTK_RESPONSE_OK, static_cast<const char*>(nullptr));
  gimp_dialog_set_alternative_button_order(GTK_DIALOG(dialog), kResponseReset, GTK_RESPONSE_OK, GTK_RESPONSE_CANCEL,
                                           -1);
  gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
  set_window_icon(GTK_WINDOW(dialog));
  // Under gimp-console there is no GIMP window to stay above (and asking for one is an error).
  const std::unique_ptr<GBytes, void (*)(GBytes*)> handle(gimp_progress_get_window_handle(), g_bytes_unref);
  if (handle && g_bytes_get_size(handle.get()) > 0) gimp_window_set_transient(GTK_WINDOW(dialog));
  return dialog;
}

void build_dialog(GtkWidget* dialog, DialogModel& model, DialogControls& controls) {
  GtkWidget* main_box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
  gtk_container_set_border_width(GTK_CONTAINER(main_box), 12);
  gtk_box_pack_start(GTK_BOX(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), main_box, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(main_box), model.preview.widget(), TRUE, TRUE, 0);

  // Labels of one width on every page, so that the scales line up.
  const GObjectOwner<GtkSizeGroup> labels(gtk_size_group_new(GTK_SIZE_GROUP_HORIZONTAL));  // the widgets keep it too
  GtkWidget* notebook = gtk_notebook_new();
  gtk_box_pack_start(GTK_BOX(main_box), notebook, FALSE, FALSE, 0);
  for (const PageLayout& layout : kPages) {
    GtkWidget* page = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
    gtk_container_set_border_width(GTK_CONTAINER(page), 6);
    gtk_notebook_append_page(GTK_NOTEBOOK(notebook), page, gtk_label_new(_(layout.tab)));
    for (int row = 0; row < layout.rows; ++row) {
      if (layout.page == DialogPage::general && row == kThresholdTypeRow) {
        GtkWidget* group = new_threshold_type_group(model);
        controls.threshold_type = first_radio_button(group);
        gtk_box_pack_start(GTK_BOX(page), group, FALSE, FALSE, 0);
      }
      for (std::size_t i = 0; i < kControls.size(); ++i) {
        if (kControls[i].page != layout.page || kControls[i].row != row) continue;
        ControlBinding& binding = controls.bindings[i];
        binding = {&model, &spec_named(kControls[i].setting), nullptr};
        gtk_box_pack_start(GTK_BOX(page), new_scale_entry(kControls[i], binding, labels.get()), FALSE, FALSE, 0);
      }
    }
  }
}

}  // namespace

bool show_dialog(GimpDrawable* drawable, ClampedSettings& settings) {
  gimp_ui_init(kProgramName);
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
