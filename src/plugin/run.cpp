#include "plugin/run.hpp"

#include <gtk/gtk.h>

#include <cstring>
#include <exception>

#include "plugin/gimp_handles.hpp"
#include "plugin/i18n.hpp"
#include "plugin/parameter_table.hpp"
#include "plugin/plugin_state.hpp"
#include "render/render_driver.hpp"
#include "ui/dialog.hpp"

namespace orvex {

FilterSettings settings{};

namespace {

GimpParam return_values[1];

constexpr const char* kDataKey = "plugin-orvex";

// A record of another size (an older or foreign store) would overrun ours: keep the defaults then.
void load_last_values() {
  if (gimp_procedural_db_get_data_size(kDataKey) == static_cast<gint>(sizeof(FilterSettings)))
    gimp_procedural_db_get_data(kDataKey, &settings);
}

void store_last_values() { gimp_procedural_db_set_data(kDataKey, &settings, sizeof(FilterSettings)); }

// Parameters 3 to 15 are the settings in record order; they are clamped at render time.
void copy_parameters(const GimpParam* param) {
  const auto& table = setting_specs();
  for (std::size_t i = 0; i < table.size(); ++i) {
    const GimpParam& value = param[kFirstSettingParam + i];
    if (table[i].kind == SettingKind::real)
      settings.*table[i].real_field = value.data.d_float;
    else
      settings.*table[i].integer_field = value.data.d_int32;
  }
}

// gimp_ui_init ends the process when no display can be opened, which the host reports as a
// crash; an interactive run without a display is refused with a status instead. The display
// is the one GIMP names, as gimp_ui_init would pick it.
bool display_available() {
  const gchar* name = gimp_display_name();
  if (name && *name) g_setenv("DISPLAY", name, TRUE);
  return gtk_init_check(nullptr, nullptr);
}

// The host refuses to merge pixels into a layer group or a layer with locked pixels, and a
// render would then report success with nothing drawn; the selection mask itself would be
// overwritten again when the render restores the selection. Refuse before computing anything.
bool pixels_writable(gint32 drawable_id) {
  return !gimp_item_is_group(drawable_id) && !gimp_item_get_lock_content(drawable_id) &&
         !gimp_item_is_selection(drawable_id);
}

void bind_catalogue() {
  bindtextdomain(ORVEX_TEXT_DOMAIN, gimp_locale_directory());
  bind_textdomain_codeset(ORVEX_TEXT_DOMAIN, "UTF-8");
  textdomain(ORVEX_TEXT_DOMAIN);
}

GimpPDBStatusType run_procedure(gint nparams, const GimpParam* param) {
  if (nparams < 3 || param == nullptr) return GIMP_PDB_EXECUTION_ERROR;
  const auto run_mode = static_cast<GimpRunMode>(param[0].data.d_int32);
  DrawableHandle drawable(param[2].data.d_drawable);
  if (!drawable || !pixels_writable(drawable.get()->drawable_id)) return GIMP_PDB_EXECUTION_ERROR;

  settings = default_settings();
  switch (run_mode) {
    case GIMP_RUN_INTERACTIVE:
      load_last_values();
      if (!display_available() || !show_dialog(drawable.get())) return GIMP_PDB_EXECUTION_ERROR;
      break;
    case GIMP_RUN_NONINTERACTIVE:
      if (nparams != static_cast<gint>(kParamCount)) return GIMP_PDB_EXECUTION_ERROR;
      copy_parameters(param);
      break;
    case GIMP_RUN_WITH_LAST_VALS:
      load_last_values();
      break;
    default:
      break;
  }

  const gint32 id = drawable.get()->drawable_id;
  if (!gimp_drawable_is_rgb(id) && !gimp_drawable_is_gray(id)) return GIMP_PDB_SUCCESS;
  if (!render(drawable.get(), nullptr)) return GIMP_PDB_EXECUTION_ERROR;
  if (run_mode != GIMP_RUN_NONINTERACTIVE) gimp_displays_flush();
  if (run_mode == GIMP_RUN_INTERACTIVE) store_last_values();
  return GIMP_PDB_SUCCESS;
}

}  // namespace

void run(const gchar* /*name*/, gint nparams, const GimpParam* param, gint* nreturn_vals,
         GimpParam** return_vals) {
  bind_catalogue();
  return_values[0].type = GIMP_PDB_STATUS;
  return_values[0].data.d_status = GIMP_PDB_SUCCESS;
  *nreturn_vals = 1;
  *return_vals = return_values;
  GimpPDBStatusType status = GIMP_PDB_EXECUTION_ERROR;
  try {
    status = run_procedure(nparams, param);
  } catch (const std::exception&) {
    status = GIMP_PDB_EXECUTION_ERROR;
  }
  return_values[0].data.d_status = status;
}

}  // namespace orvex
