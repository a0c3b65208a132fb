// The plug-in as GIMP 3 knows it: the procedure, its arguments, its catalogue and its run.
#include <gdk/gdk.h>
#include <libgimp/gimp.h>

#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <type_traits>

#include "gimp3/dialog.hpp"
#include "gimp3/gimp_owners.hpp"
#include "gimp3/render_driver.hpp"
#include "host_common/dialog_controls.hpp"
#include "host_common/failure.hpp"
#include "host_common/procedure.hpp"

namespace orvex {

namespace {

std::string argument_name(const SettingDescriptor& descriptor) {
  std::string name(descriptor.name);
  std::replace(name.begin(), name.end(), '_', '-');
  return name;
}

// The label the dialog shows for a setting, untranslated.
const char* dialog_label(const SettingDescriptor& descriptor) {
  for (const ControlRow& control : kControls)
    if (control.setting == descriptor.name) return control.label;
  return kThresholdTypeTitle;
}

void add_setting_arguments(GimpProcedure* procedure) {
  const auto& table = setting_descriptors();
  for (std::size_t i = 0; i < table.size(); ++i) {
    const SettingDescriptor& descriptor = table[i];
    const std::string name = argument_name(descriptor);
    const std::string blurb(setting_description(i));
    if (descriptor.kind == SettingKind::real)
      gimp_procedure_add_double_argument(procedure, name.c_str(), _(dialog_label(descriptor)), blurb.c_str(),
                                         descriptor.lower, descriptor.upper, descriptor.default_value,
                                         G_PARAM_READWRITE);
    else
      gimp_procedure_add_int_argument(procedure, name.c_str(), _(dialog_label(descriptor)), blurb.c_str(),
                                      static_cast<gint>(descriptor.lower), static_cast<gint>(descriptor.upper),
                                      static_cast<gint>(descriptor.default_value), G_PARAM_READWRITE);
  }
}

// The integer settings are read and written as the config's gint properties.
static_assert(std::is_same_v<std::int32_t, gint>);

ClampedSettings settings_from_config(GimpProcedureConfig* config) {
  FilterSettings raw = default_settings();
  for (const SettingDescriptor& descriptor : setting_descriptors()) {
    const std::string name = argument_name(descriptor);
    if (descriptor.kind == SettingKind::real)
      g_object_get(config, name.c_str(), &(raw.*descriptor.real_field), nullptr);
    else
      g_object_get(config, name.c_str(), &(raw.*descriptor.integer_field), nullptr);
  }
  return ClampedSettings(raw);
}

// What GIMP stores as the last values after an interactive run.
void store_in_config(GimpProcedureConfig* config, const ClampedSettings& settings) {
  for (const SettingDescriptor& descriptor : setting_descriptors()) {
    const std::string name = argument_name(descriptor);
    if (descriptor.kind == SettingKind::real)
      g_object_set(config, name.c_str(), settings.values().*descriptor.real_field, nullptr);
    else
      g_object_set(config, name.c_str(), settings.values().*descriptor.integer_field, nullptr);
  }
}

// gimp_ui_init ends the process when no display can be opened; asking GDK first, through
// whichever of its backends can reach the display (X11 or Wayland), turns that into a reason
// the caller sees. The probe is closed again, so gimp_ui_init still opens the display itself.
bool display_available() {
  const gchar* name = gimp_display_name();
  GdkDisplay* display = gdk_display_open(name && *name ? name : nullptr);
  if (!display) return false;
  gdk_display_close(display);
  return true;
}

// The status, or a Failure with the reason.
GimpPDBStatusType run_procedure(GimpRunMode run_mode, GimpDrawable* drawable, GimpProcedureConfig* config) {
  // Everything that can refuse the call does so before the dialog opens.
  check_drawable(drawable);

  // The config holds the caller's values, or the last values for the other run modes.
  ClampedSettings settings = settings_from_config(config);
  if (run_mode == GIMP_RUN_INTERACTIVE) {
    if (!display_available()) throw Failure(_("there is no display to show the dialog on"));
    if (!show_dialog(drawable, settings)) return GIMP_PDB_CANCEL;
    store_in_config(config, settings);
  }
  render_drawable(drawable, settings);
  if (run_mode != GIMP_RUN_NONINTERACTIVE) gimp_displays_flush();
  return GIMP_PDB_SUCCESS;
}

GimpValueArray* run(GimpProcedure* procedure, GimpRunMode run_mode, GimpImage* /*image*/, GimpDrawable** drawables,
                    GimpProcedureConfig* config, gpointer /*run_data*/) {
  // Failed host calls are this plug-in's to report, with its own reason.
  gimp_plug_in_set_pdb_error_handler(gimp_procedure_get_plug_in(procedure), GIMP_PDB_ERROR_HANDLER_PLUGIN);
  GimpPDBStatusType status = GIMP_PDB_EXECUTION_ERROR;
  std::string reason;
  try {
    if (drawables && drawables[0] && drawables[1]) {
      status = GIMP_PDB_CALLING_ERROR;
      reason = _("Orvex works on one layer at a time: select only one");
    } else {
      return gimp_procedure_new_return_values(
          procedure, run_procedure(run_mode, drawables ? drawables[0] : nullptr, config), nullptr);
    }
  } catch (const Failure& failure) {
    reason = failure.what();
  } catch (const std::bad_alloc&) {
    reason = _("not enough memory");
  } catch (const std::exception& error) {
    reason = error.what();
  } catch (...) {
    reason = _("an unexpected error ended the render");
  }
  return gimp_procedure_new_return_values(procedure, status, g_error_new_literal(GIMP_PLUG_IN_ERROR, 0, reason.c_str()));
}

}  // namespace

}  // namespace orvex

G_BEGIN_DECLS
#define ORVEX_TYPE_PLUG_IN (orvex_plug_in_get_type())
G_DECLARE_FINAL_TYPE(OrvexPlugIn, orvex_plug_in, ORVEX, PLUG_IN, GimpPlugIn)
G_END_DECLS

struct _OrvexPlugIn {
  GimpPlugIn parent_instance;
};

G_DEFINE_TYPE(OrvexPlugIn, orvex_plug_in, GIMP_TYPE_PLUG_IN)

static GList* orvex_plug_in_query_procedures(GimpPlugIn* plug_in) {
  using namespace orvex;
  const std::unique_ptr<gchar, GFree> folder(g_path_get_dirname(gimp_get_progname()));
  const GObjectOwner<GFile> help(g_file_new_build_filename(folder.get(), kHelpFolder, nullptr));
  gimp_plug_in_set_help_domain(plug_in, kHelpDomain, help.get());
  return g_list_append(nullptr, g_strdup(kProcedureName.data()));
}

// GIMP 3 does not translate registrations itself: the texts go in translated, under the
// domain set_i18n has bound by now.
static GimpProcedure* orvex_plug_in_create_procedure(GimpPlugIn* plug_in, const gchar* name) {
  using namespace orvex;
  if (kProcedureName != name) return nullptr;
  GimpProcedure* procedure = gimp_image_procedure_new(plug_in, name, GIMP_PDB_PROC_TYPE_PLUGIN, run, nullptr, nullptr);
  gimp_procedure_set_image_types(procedure, kImageTypes.data());
  gimp_procedure_set_sensitivity_mask(procedure, GIMP_PROCEDURE_SENSITIVE_DRAWABLE);
  gimp_procedure_set_menu_label(procedure, _(kMenuLabel));
  gimp_procedure_add_menu_path(procedure, kMenuPath.data());
  gimp_procedure_set_documentation(procedure, _(kBlurb), _(kBlurb), name);
  gimp_procedure_set_attribution(procedure, kAuthor.data(), kAuthor.data(), kDate.data());
  add_setting_arguments(procedure);
  return procedure;
}

// The catalogues live beside the executable, in locale/<lang>/LC_MESSAGES: GIMP takes only
// a folder relative to the plug-in's own.
static gboolean orvex_plug_in_set_i18n(GimpPlugIn*, const gchar*, gchar** domain, gchar** folder) {
  *domain = g_strdup(ORVEX_TEXT_DOMAIN);
  *folder = g_strdup("locale");
  return TRUE;
}

static void orvex_plug_in_class_init(OrvexPlugInClass* klass) {
  GimpPlugInClass* plug_in = GIMP_PLUG_IN_CLASS(klass);
  plug_in->query_procedures = orvex_plug_in_query_procedures;
  plug_in->create_procedure = orvex_plug_in_create_procedure;
  plug_in->set_i18n = orvex_plug_in_set_i18n;
}

static void orvex_plug_in_init(OrvexPlugIn*) {}

// GIMP starts babl before any procedure runs. Its cache of conversions, which GIMP keeps in the
// user's cache folder, costs a fresh process half a second and some 360 MB to load (babl
// 0.1.114), more than the few conversions a plug-in needs take to find: it is left unread.
int main(int argc, char* argv[]) {
  g_setenv("BABL_INHIBIT_CACHE", "1", TRUE);
  return gimp_main(ORVEX_TYPE_PLUG_IN, argc, argv);
}
