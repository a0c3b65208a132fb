// Test-only plug-in (never installed): calls of plugin-orvex Script-Fu cannot make, under a progress of our own; pixels compared.
#include <libgimp/gimp.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/filter_settings.hpp"
#include "engine/highlight_extraction.hpp"
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

orvex::PixelBuffer read(gint32 drawable, const orvex::Rect& box) {
  GeglBuffer* buffer = gimp_drawable_get_buffer(drawable);
  const orvex::TransferFormat format = orvex::transfer_format(gimp_drawable_get_format(drawable), 0, 0);
  orvex::PixelBuffer pixels = orvex::read_pixels(buffer, box, format);
  g_object_unref(buffer);
  return pixels;
}
orvex::Rect whole(gint32 drawable) {
  return {0, 0, gimp_drawable_width(drawable), gimp_drawable_height(drawable)};
}

// The engine's highlights of a drawable against those GIMP's selection steps left in `reference`, sample
// by sample: (samples that differ, the largest difference; -1 when the layouts differ; the engine's ms).
void extract(const GimpParam* param, GimpParam* out) {
  const gint32 drawable = param[1].data.d_drawable, reference = param[4].data.d_drawable;
  orvex::FilterSettings settings = orvex::default_settings();
  settings.threshold = param[2].data.d_int32;
  settings.threshold_type = param[3].data.d_int32;
  const orvex::PixelBuffer layer = read(drawable, whole(drawable)), want = read(reference, whole(reference));
  const auto start = std::chrono::steady_clock::now();
  const orvex::PixelBuffer got = orvex::extract_highlights(
      orvex::ClampedSettings(settings), layer.view(),
      {orvex::sample_curve(gimp_drawable_get_format(drawable)), orvex::GimpRounding::gimp2}, 2);
  const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
  out[3].data.d_float = took.count();
  gint32 &differing = out[1].data.d_int32, &largest = out[2].data.d_int32;
  differing = largest = got.layout == want.layout ? 0 : -1;
  const int bytes = orvex::sample_bytes(got.layout.type);
  for (std::size_t i = 0; differing >= 0 && i < got.bytes.size(); i += static_cast<std::size_t>(bytes)) {
    std::uint16_t a = 0, b = 0;
    std::memcpy(&a, got.bytes.data() + i, static_cast<std::size_t>(bytes));
    std::memcpy(&b, want.bytes.data() + i, static_cast<std::size_t>(bytes));
    differing += a != b;
    largest = std::max(largest, std::abs(a - b));
  }
}

// Compares two drawables in a box: (pixels changed, colour samples larger, smaller).
void compare(const GimpParam* param, GimpParam* out) {
  const orvex::Rect box{param[3].data.d_int32, param[4].data.d_int32, param[5].data.d_int32, param[6].data.d_int32};
  const std::vector<orvex::PixelBuffer> pixels{read(param[1].data.d_drawable, box),
                                               read(param[2].data.d_drawable, box)};
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
     {def(GIMP_PDB_INT32, "changed"), def(GIMP_PDB_INT32, "larger"), def(GIMP_PDB_INT32, "smaller")}, compare},
    {"orvex-test-extract", {def(GIMP_PDB_INT32, "run-mode"), def(GIMP_PDB_DRAWABLE, "drawable"),
      def(GIMP_PDB_INT32, "threshold"), def(GIMP_PDB_INT32, "threshold-type"),
      def(GIMP_PDB_DRAWABLE, "reference")},
     {def(GIMP_PDB_INT32, "differing"), def(GIMP_PDB_INT32, "largest"), def(GIMP_PDB_FLOAT, "milliseconds")},
     extract}};

void query() {
  for (const Procedure& p : kProcedures)
    gimp_install_procedure(p.name, "Orvex test helper", "For end-to-end tests only", "Orvex developers", "Orvex developers",
                           "2026", nullptr, nullptr, GIMP_PLUGIN, static_cast<gint>(p.args.size()),
                           static_cast<gint>(p.results.size()), p.args.data(), p.results.data());
}

void run(const gchar* name, gint, const GimpParam* param, gint* nreturn_vals, GimpParam** return_vals) {
  static GimpParam values[7];
  orvex::init_gegl_for_buffers();
  const Procedure& p = *std::find_if(kProcedures.begin(), kProcedures.end(),
                                     [&](const Procedure& q) { return std::strcmp(name, q.name) == 0; });
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
