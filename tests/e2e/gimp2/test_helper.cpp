// Test-only plug-in (never installed): calls of plugin-orvex Script-Fu cannot make, under a progress of our own; pixels compared.
#include <libgimp/gimp.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/filter_settings.hpp"
#include "gegl_io/buffer_pixels.hpp"

namespace {

// What plugin-orvex reported to our progress (the host may report after the call has returned).
std::string texts;
gint32 fractions = 0, rising = 1;
double last = 0;
void add_text(const gchar* text, gpointer) { texts += std::string(text ? text : "") + "\n"; }

// plugin-orvex with the first `count` of (mode, image, drawable, settings), the settings the defaults changed by (index,
// value) pairs; returns (status, message, progress texts, number of fractions, the last one, whether they only rose).
void call(const GimpParam* param, GimpParam* out) {
  GimpProgressVtable vtable{};
  vtable.start = [](const gchar* text, gboolean, gpointer) { add_text(text, nullptr); };
  vtable.end = [](gpointer) {};
  vtable.set_text = add_text;
  vtable.set_value = [](gdouble value, gpointer) { rising = rising && value >= last; last = value; ++fractions; };
  gimp_progress_install_vtable(&vtable, nullptr);
  std::vector<double> values;
  for (const orvex::SettingDescriptor& setting : orvex::setting_descriptors())
    values.push_back(orvex::setting_value(orvex::default_settings(), setting));
  for (gint i = 0; i + 1 < param[5].data.d_int32; i += 2)
    values.at(static_cast<std::size_t>(param[6].data.d_floatarray[i])) = param[6].data.d_floatarray[i + 1];
  std::vector<GimpParam> args{param[3], param[1], param[2]};  // the call's mode, an INT32 as the run mode is
  for (std::size_t i = 0; i < values.size(); ++i) {
    GimpParam& p = args.emplace_back();
    p.type = orvex::setting_descriptors()[i].kind == orvex::SettingKind::real ? GIMP_PDB_FLOAT : GIMP_PDB_INT32;
    if (p.type == GIMP_PDB_FLOAT) p.data.d_float = values[i];
    else p.data.d_int32 = static_cast<gint32>(values[i]);
  }
  args.resize(static_cast<std::size_t>(std::clamp(param[4].data.d_int32, 0, 16)));
  gint n = 0;
  GimpParam* reply = gimp_run_procedure2("plugin-orvex", &n, static_cast<gint>(args.size()), args.data());
  out[1].data.d_int32 = n > 0 ? reply[0].data.d_status : -1;
  out[2].data.d_string = g_strdup(n > 1 && reply[1].type == GIMP_PDB_STRING ? reply[1].data.d_string : "");
  gimp_destroy_params(reply, n);
  out[3].data.d_string = g_strdup(texts.c_str());
  out[4].data.d_int32 = fractions;
  out[5].data.d_float = last;
  out[6].data.d_int32 = rising;
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
  const auto value = [&](const std::byte* pixel, int c) { return orvex::unit_value(l.type, pixel + c * orvex::sample_bytes(l.type)); };
  gint32 &changed = out[1].data.d_int32, &larger = out[2].data.d_int32, &smaller = out[3].data.d_int32;
  changed = l == pixels[1].layout ? 0 : -1;  // -1: not comparable
  larger = smaller = 0;
  for (std::int64_t i = 0; changed >= 0 && i < l.pixel_count(); ++i) {
    const std::byte* a = pixels[0].bytes.data() + i * l.pixel_bytes();
    const std::byte* b = pixels[1].bytes.data() + i * l.pixel_bytes();
    changed += std::memcmp(a, b, static_cast<std::size_t>(l.pixel_bytes())) != 0;
    for (int c = 0; c < orvex::colour_count(l.channels); ++c) {
      larger += value(a, c) > value(b, c);
      smaller += value(a, c) < value(b, c);
    }
  }
}

GimpParamDef def(GimpPDBArgType type, const char* name) { return {type, const_cast<gchar*>(name), const_cast<gchar*>(name)}; }

struct Procedure {
  const char* name;
  std::vector<GimpParamDef> args, results;
  void (*run)(const GimpParam*, GimpParam*);
};
const std::vector<Procedure> kProcedures = {
    {"orvex-test-call", {def(GIMP_PDB_INT32, "run-mode"), def(GIMP_PDB_IMAGE, "image"), def(GIMP_PDB_DRAWABLE, "drawable"),
      def(GIMP_PDB_INT32, "call-mode"), def(GIMP_PDB_INT32, "count"), def(GIMP_PDB_INT32, "n-changes"), def(GIMP_PDB_FLOATARRAY, "changes")},
     {def(GIMP_PDB_INT32, "status"), def(GIMP_PDB_STRING, "message"), def(GIMP_PDB_STRING, "texts"),
      def(GIMP_PDB_INT32, "fractions"), def(GIMP_PDB_FLOAT, "last"), def(GIMP_PDB_INT32, "rising")}, call},
    {"orvex-test-compare", {def(GIMP_PDB_INT32, "run-mode"), def(GIMP_PDB_DRAWABLE, "a"), def(GIMP_PDB_DRAWABLE, "b"),
      def(GIMP_PDB_INT32, "x"), def(GIMP_PDB_INT32, "y"), def(GIMP_PDB_INT32, "width"), def(GIMP_PDB_INT32, "height")},
     {def(GIMP_PDB_INT32, "changed"), def(GIMP_PDB_INT32, "larger"), def(GIMP_PDB_INT32, "smaller")}, compare}};

void query() {
  for (const Procedure& p : kProcedures)
    gimp_install_procedure(p.name, "Orvex test helper", "For end-to-end tests only", "Orvex developers", "Orvex developers",
                           "2026", nullptr, nullptr, GIMP_PLUGIN, static_cast<gint>(p.args.size()),
                           static_cast<gint>(p.results.size()), p.args.data(), p.results.data());
}

void run(const gchar* name, gint, const GimpParam* param, gint* nreturn_vals, GimpParam** return_vals) {
  static GimpParam values[7];
  orvex::init_gegl_for_buffers();
  const Procedure& p = kProcedures[std::strcmp(name, "orvex-test-call") == 0 ? 0 : 1];
  for (std::size_t i = 0; i < p.results.size(); ++i) values[i + 1].type = p.results[i].type;
  p.run(param, values);
  values[0].type = GIMP_PDB_STATUS;
  values[0].data.d_status = GIMP_PDB_SUCCESS;
  *nreturn_vals = static_cast<gint>(p.results.size()) + 1;
  *return_vals = values;
}

}  // namespace

extern "C" {
const GimpPlugInInfo PLUG_IN_INFO = {nullptr, nullptr, query, run};
}

MAIN()
