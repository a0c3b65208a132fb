#include "gimp2/run.hpp"

#include <X11/Xlib.h>
#include "gegl_io/buffer_pixels.hpp"

#include <array>
#include <cstdio>
#include <new>
#include <optional>
#include <string>

#include "gimp2/dialog.hpp"
#include "gimp2/render_driver.hpp"
#include "host_common/failure.hpp"
#include "host_common/procedure.hpp"

namespace orvex {

namespace {

constexpr const char* kDataKey = "plugin-orvex";

// A record of another size (an older or foreign store) is not ours to read: defaults then.
ClampedSettings stored_settings() {
  if (gimp_procedural_db_get_data_size(kDataKey) != static_cast<gint>(sizeof(FilterSettings)))
    return ClampedSettings();
  std::array<std::byte, sizeof(FilterSettings)> record{};
  gimp_procedural_db_get_data(kDataKey, record.data());
  return settings_from_record(record).value_or(ClampedSettings());
}

void store_settings(const ClampedSettings& settings) {
  gimp_procedural_db_set_data(kDataKey, &settings.values(), sizeof(FilterSettings));
}

// Parameters 3 to 15 are the settings in record order.
ClampedSettings settings_from_parameters(const GimpParam* param) {
  FilterSettings raw = default_settings();
  const auto& table = setting_descriptors();
  for (std::size_t i = 0; i < table.size(); ++i) {
    const GimpParam& value = param[kFirstSettingParam + i];
    if (table[i].kind == SettingKind::real)
      raw.*table[i].real_field = value.data.d_float;
    else
      raw.*table[i].integer_field = value.data.d_int32;
  }
  return ClampedSettings(raw);
}

// gimp_ui_init ends the process when no display can be opened; asking X directly leaves
// GTK uninitialised until gimp_ui_init sets it up with GIMP's startup notification.
bool display_available() {
  const gchar* name = gimp_display_name();
  Display* display = XOpenDisplay(name && *name ? name : nullptr);
  if (!display) return false;
  XCloseDisplay(display);
  return true;
}

void bind_catalogue() {
  bindtextdomain(ORVEX_TEXT_DOMAIN, gimp_locale_directory());
  bind_textdomain_codeset(ORVEX_TEXT_DOMAIN, "UTF-8");
  textdomain(ORVEX_TEXT_DOMAIN);
}

std::string parameter_count_failure(gint count) {
  char text[160];
  std::snprintf(text, sizeof text, _("plugin-orvex takes %d parameters, not %d"),
                static_cast<int>(kParamCount), static_cast<int>(count));
  return text;
}

// The status, or a Failure with the reason; a declined dialog fails without one.
GimpPDBStatusType run_procedure(gint nparams, const GimpParam* param) {
  if (nparams < 3 || param == nullptr) throw Failure(parameter_count_failure(nparams));
  const gint32 mode = param[0].data.d_int32;
  if (mode < GIMP_RUN_INTERACTIVE || mode > GIMP_RUN_WITH_LAST_VALS) throw run_mode_failure(mode);
  const auto run_mode = static_cast<GimpRunMode>(mode);
  const gint32 drawable = param[2].data.d_drawable;
  // Everything that can refuse the call does so before the dialog opens.
  check_drawable(drawable);

  ClampedSettings settings;
  switch (run_mode) {
    case GIMP_RUN_INTERACTIVE:
      settings = stored_settings();
      if (!display_available()) throw Failure(_("there is no display to show the dialog on"));
      if (!show_dialog(drawable, settings)) return GIMP_PDB_EXECUTION_ERROR;
      break;
    case GIMP_RUN_NONINTERACTIVE:
      if (nparams != static_cast<gint>(kParamCount)) throw Failure(parameter_count_failure(nparams));
      settings = settings_from_parameters(param);
      break;
    case GIMP_RUN_WITH_LAST_VALS:
      settings = stored_settings();
      break;
  }
  render_drawable(drawable, settings);
  if (run_mode != GIMP_RUN_NONINTERACTIVE) gimp_displays_flush();
  if (run_mode == GIMP_RUN_INTERACTIVE) store_settings(settings);
  return GIMP_PDB_SUCCESS;
}

}  // namespace

void run(const gchar* /*name*/, gint nparams, const GimpParam* param, gint* nreturn_vals,
         GimpParam** return_vals) {
  // GIMP reads these after run() has returned.
  static std::array<GimpParam, 2> values{};
  static std::string reason;
  bind_catalogue();
  init_gegl_for_buffers();
  // Failed host calls are this plug-in's to report, with its own reason, not GIMP's console's.
  gimp_plugin_set_pdb_error_handler(GIMP_PDB_ERROR_HANDLER_PLUGIN);
  GimpPDBStatusType status = GIMP_PDB_EXECUTION_ERROR;
  reason.clear();
  try {
    status = run_procedure(nparams, param);
  } catch (const CallingFailure& failure) {
    status = GIMP_PDB_CALLING_ERROR;
    reason = failure.what();
  } catch (const Failure& failure) {
    reason = failure.what();
  } catch (const std::bad_alloc&) {
    reason = _("not enough memory");
  } catch (const std::exception& error) {
    reason = error.what();
  } catch (...) {
    reason = _("an unexpected error ended the render");
  }
  values[0].type = GIMP_PDB_STATUS;
  values[0].data.d_status = status;
  *nreturn_vals = 1;
  *return_vals = values.data();
  if (status != GIMP_PDB_SUCCESS && !reason.empty()) {
    values[1].type = GIMP_PDB_STRING;
    values[1].data.d_string = reason.data();
    *nreturn_vals = 2;
  }
}

}  // namespace orvex
