// Test-only procedures for the end-to-end cases (never installed with the plug-in):
// calls of plugin-orvex that Script-Fu cannot make, stored records, progress, pixel comparison.
#include <libgimp/gimp.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/filter_settings.hpp"
#include "gegl_io/buffer_pixels.hpp"

namespace {

using orvex::FilterSettings;

std::vector<GimpParam> settings_params(const gdouble* given, gint count) {
  const FilterSettings defaults = orvex::default_settings();
  std::vector<GimpParam> params;
  for (std::size_t i = 0; i < orvex::kSettingCount; ++i) {
    const orvex::SettingSpec& spec = orvex::setting_specs()[i];
    const double v = static_cast<gint>(i) < count ? given[i] : orvex::setting_value(defaults, spec);
    GimpParam p{};
    p.type = spec.kind == orvex::SettingKind::real ? GIMP_PDB_FLOAT : GIMP_PDB_INT32;
    if (spec.kind == orvex::SettingKind::real) p.data.d_float = v;
    else p.data.d_int32 = static_cast<gint32>(v);
    params.push_back(p);
  }
  return params;
}

// plugin-orvex with the first `count` of (mode, image, drawable, settings); returns (status, message).
void call(const GimpParam* param, GimpParam* out) {
  std::vector<GimpParam> args(3);
  args[0].type = GIMP_PDB_INT32;
  args[0].data.d_int32 = param[3].data.d_int32;
  args[1].type = GIMP_PDB_IMAGE;
  args[1].data.d_image = param[1].data.d_image;
  args[2].type = GIMP_PDB_DRAWABLE;
  args[2].data.d_drawable = param[2].data.d_drawable;
  for (const GimpParam& p : settings_params(param[6].data.d_floatarray, param[5].data.d_int32)) args.push_back(p);
  args.resize(static_cast<std::size_t>(std::clamp(param[4].data.d_int32, 0, 16)));
  gint n = 0;
  GimpParam* reply = gimp_run_procedure2("plugin-orvex", &n, static_cast<gint>(args.size()), args.data());
  out[1].data.d_int32 = n > 0 ? reply[0].data.d_status : -1;
  out[2].data.d_string = g_strdup(n > 1 && reply[1].type == GIMP_PDB_STRING ? reply[1].data.d_string : "");
  gimp_destroy_params(reply, n);
}

struct Progress {
  std::string texts;
  int values = 0;
  double last = 0;
  bool rising = true;
};

void record_start(const gchar* text, gboolean, gpointer data) { static_cast<Progress*>(data)->texts += std::string(text ? text : "") + "\n"; }
void record_text(const gchar* text, gpointer data) { record_start(text, FALSE, data); }
void record_value(gdouble value, gpointer data) {
  auto* p = static_cast<Progress*>(data);
  p->rising = p->rising && value >= p->last;
  p->last = value;
  ++p->values;
}
void ignore_end(gpointer) {}

// Calls plugin-orvex with the defaults under a progress of our own; returns
// (status, texts, number of fractions, the last one, whether they only rose).
void progress(const GimpParam* param, GimpParam* out) {
  static Progress seen;  // the host may report after this procedure has returned
  GimpProgressVtable vtable{};
  vtable.start = record_start;
  vtable.end = ignore_end;
  vtable.set_text = record_text;
  vtable.set_value = record_value;
  gimp_progress_install_vtable(&vtable, &seen);
  GimpParam args[7] = {};
  std::memcpy(args, param, sizeof(GimpParam) * 3);
  args[3].data.d_int32 = GIMP_RUN_NONINTERACTIVE;
  args[4].data.d_int32 = 16;
  args[5].data.d_int32 = 0;
  call(args, out);
  out[2].data.d_string = g_strdup(seen.texts.c_str());
  out[3].data.d_int32 = seen.values;
  out[4].data.d_float = seen.last;
  out[5].data.d_int32 = seen.rising;
}

// Compares two drawables in a box: (pixels changed, colour samples larger, smaller).
void compare(const GimpParam* param, GimpParam* out) {
  const orvex::Rect box{param[3].data.d_int32, param[4].data.d_int32, param[5].data.d_int32, param[6].data.d_int32};
  std::vector<orvex::PixelBuffer> pixels;
  for (const gint32 drawable : {param[1].data.d_drawable, param[2].data.d_drawable}) {
    GeglBuffer* buffer = gimp_drawable_get_buffer(drawable);
    pixels.push_back(orvex::read_pixels(buffer, box, orvex::transfer_format(gimp_drawable_get_format(drawable), 0, 0)));
    g_object_unref(buffer);
  }
  const orvex::PixelLayout& l = pixels[0].layout;
  gint32 changed = -1, larger = 0, smaller = 0;
  if (l == pixels[1].layout) {
    changed = 0;
    for (std::int64_t i = 0; i < l.pixel_count(); ++i) {
      const std::byte* a = pixels[0].bytes.data() + i * l.pixel_bytes();
      const std::byte* b = pixels[1].bytes.data() + i * l.pixel_bytes();
      changed += std::memcmp(a, b, static_cast<std::size_t>(l.pixel_bytes())) != 0;
      for (int c = 0; c < orvex::colour_count(l.channels); ++c) {
        const double x = orvex::unit_value(l.type, a + c * orvex::sample_bytes(l.type));
        const double y = orvex::unit_value(l.type, b + c * orvex::sample_bytes(l.type));
        larger += x > y;
        smaller += x < y;
      }
    }
  }
  out[1].data.d_int32 = changed;
  out[2].data.d_int32 = larger;
  out[3].data.d_int32 = smaller;
}

void store(const GimpParam* param, GimpParam* out) {
  gimp_procedural_db_set_data("plugin-orvex", param[2].data.d_int8array, static_cast<guint32>(param[1].data.d_int32));
  out[1].data.d_int32 = gimp_procedural_db_get_data_size("plugin-orvex");
}

void defaults(const GimpParam*, GimpParam* out) {
  static std::vector<gdouble> values;
  for (const orvex::SettingSpec& spec : orvex::setting_specs()) values.push_back(orvex::setting_value(orvex::default_settings(), spec));
  out[1].data.d_int32 = static_cast<gint32>(values.size());
  out[2].data.d_floatarray = values.data();
}

struct Procedure {
  const char* name;
  std::vector<GimpParamDef> args;
  std::vector<GimpParamDef> results;
  void (*run)(const GimpParam*, GimpParam*);
};

GimpParamDef def(GimpPDBArgType type, const char* name) { return {type, const_cast<gchar*>(name), const_cast<gchar*>(name)}; }

const std::vector<Procedure>& procedures() {
  const GimpParamDef mode = def(GIMP_PDB_INT32, "run-mode");
  static const std::vector<Procedure> all = {
      {"orvex-test-call", {mode, def(GIMP_PDB_IMAGE, "image"), def(GIMP_PDB_DRAWABLE, "drawable"), def(GIMP_PDB_INT32, "call-mode"),
        def(GIMP_PDB_INT32, "count"), def(GIMP_PDB_INT32, "n-settings"), def(GIMP_PDB_FLOATARRAY, "settings")},
       {def(GIMP_PDB_INT32, "status"), def(GIMP_PDB_STRING, "message")}, call},
      {"orvex-test-progress", {mode, def(GIMP_PDB_IMAGE, "image"), def(GIMP_PDB_DRAWABLE, "drawable")},
       {def(GIMP_PDB_INT32, "status"), def(GIMP_PDB_STRING, "texts"), def(GIMP_PDB_INT32, "fractions"),
        def(GIMP_PDB_FLOAT, "last"), def(GIMP_PDB_INT32, "rising")}, progress},
      {"orvex-test-compare", {mode, def(GIMP_PDB_DRAWABLE, "a"), def(GIMP_PDB_DRAWABLE, "b"), def(GIMP_PDB_INT32, "x"),
        def(GIMP_PDB_INT32, "y"), def(GIMP_PDB_INT32, "width"), def(GIMP_PDB_INT32, "height")},
       {def(GIMP_PDB_INT32, "changed"), def(GIMP_PDB_INT32, "larger"), def(GIMP_PDB_INT32, "smaller")}, compare},
      {"orvex-test-store", {mode, def(GIMP_PDB_INT32, "size"), def(GIMP_PDB_INT8ARRAY, "bytes")},
       {def(GIMP_PDB_INT32, "stored")}, store},
      {"orvex-test-defaults", {mode}, {def(GIMP_PDB_INT32, "count"), def(GIMP_PDB_FLOATARRAY, "defaults")}, defaults},
  };
  return all;
}

void query() {
  for (const Procedure& p : procedures())
    gimp_install_procedure(p.name, "Orvex test helper", "For end-to-end tests only", "Orvex developers",
                           "Orvex developers", "2026", nullptr, nullptr, GIMP_PLUGIN, static_cast<gint>(p.args.size()),
                           static_cast<gint>(p.results.size()), p.args.data(), p.results.data());
}

void run(const gchar* name, gint, const GimpParam* param, gint* nreturn_vals, GimpParam** return_vals) {
  static GimpParam values[6];
  orvex::init_gegl_for_buffers();
  *return_vals = values;
  *nreturn_vals = 1;
  values[0].type = GIMP_PDB_STATUS;
  values[0].data.d_status = GIMP_PDB_CALLING_ERROR;
  for (const Procedure& p : procedures()) {
    if (std::strcmp(p.name, name) != 0) continue;
    for (std::size_t i = 0; i < p.results.size(); ++i) values[i + 1].type = p.results[i].type;
    p.run(param, values);
    *nreturn_vals = static_cast<gint>(p.results.size()) + 1;
    values[0].data.d_status = GIMP_PDB_SUCCESS;
  }
}

}  // namespace

extern "C" {
const GimpPlugInInfo PLUG_IN_INFO = {nullptr, nullptr, query, run};
}

MAIN()
