#include "gimp2/registration.hpp"

#include <libgimp/gimp.h>

#include <array>
#include <memory>
#include <string>

#include "gimp2/gimp_owners.hpp"
#include "host_common/procedure.hpp"

namespace orvex {

namespace {

GimpPDBArgType host_type(ParamType type) {
  switch (type) {
    case ParamType::int32: return GIMP_PDB_INT32;
    case ParamType::image: return GIMP_PDB_IMAGE;
    case ParamType::drawable: return GIMP_PDB_DRAWABLE;
    case ParamType::real: return GIMP_PDB_FLOAT;
  }
  return GIMP_PDB_INT32;
}

// The table's texts are string literals, so the pointers stay valid for the process.
std::array<GimpParamDef, kParamCount> host_params() {
  std::array<GimpParamDef, kParamCount> defs{};
  for (std::size_t i = 0; i < kParamCount; ++i) {
    defs[i].type = host_type(kParams[i].type);
    defs[i].name = const_cast<gchar*>(kParams[i].name.data());
    defs[i].description = const_cast<gchar*>(kParams[i].description.data());
  }
  return defs;
}

void register_help() {
  const std::unique_ptr<gchar, GFree> folder(g_path_get_dirname(gimp_get_progname()));
  const std::unique_ptr<gchar, GFree> path(g_build_filename(folder.get(), kHelpFolder, nullptr));
  const std::unique_ptr<gchar, GFree> uri(g_filename_to_uri(path.get(), nullptr, nullptr));
  if (uri) gimp_plugin_help_register(kHelpDomain, uri.get());
}

}  // namespace

void query() {
  static const std::array<GimpParamDef, kParamCount> params = host_params();
  const std::string name(kProcedureName);
  // GIMP translates the menu label, blurb and help itself, through this domain.
  gimp_plugin_domain_register(ORVEX_TEXT_DOMAIN, gimp_locale_directory());
  gimp_install_procedure(name.c_str(), kBlurb, kBlurb, kAuthor.data(), kAuthor.data(), kDate.data(),
                         kMenuLabel, kImageTypes.data(), GIMP_PLUGIN,
                         static_cast<gint>(kParamCount), 0, params.data(), nullptr);
  gimp_plugin_menu_register(name.c_str(), kMenuPath.data());
  register_help();
}

}  // namespace orvex
