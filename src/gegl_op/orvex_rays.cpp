// The GEGL operation orvex:rays: the engine's render of a whole layer, for every GEGL program and
// as an editable layer effect in GIMP 3. Every output pixel can depend on every input pixel.
#include "gegl_op/setting_limits.hpp"

#ifndef ORVEX_RAYS_HELPERS
#define ORVEX_RAYS_HELPERS
#define ORVEX_LABEL(text) (text)
// GEGL looks enum labels up in a text domain; Orvex ships no catalogue for the operation yet.
#define GETTEXT_PACKAGE "orvex-gegl"
#include <libintl.h>
#endif

#ifdef GEGL_PROPERTIES

enum_start(orvex_threshold_type)
  enum_value(ORVEX_THRESHOLD_EACH, "each", ORVEX_LABEL("Each of RGB"))
  enum_value(ORVEX_THRESHOLD_AVERAGE, "average", ORVEX_LABEL("RGB Average"))
  enum_value(ORVEX_THRESHOLD_WEIGHTED, "weighted", ORVEX_LABEL("Weighted RGB Average"))
enum_end(OrvexThresholdType)

// Line types count from 1, as the plug-in's do.
enum_start(orvex_line_type)
  enum_value_skip(ORVEX_LINE_TYPE_NONE)
  enum_value(ORVEX_ONE_LINE, "one", ORVEX_LABEL("1 line"))
  enum_value(ORVEX_CROSS, "cross", ORVEX_LABEL("2 lines: a cross"))
  enum_value(ORVEX_SIX_POINTS, "six-points", ORVEX_LABEL("3 lines: a six-pointed star"))
  enum_value(ORVEX_EIGHT_POINTS, "eight-points", ORVEX_LABEL("4 lines: an eight-pointed star"))
enum_end(OrvexLineType)

property_double(brightness, ORVEX_LABEL("Brightness"), orvex::setting_default("brightness"))
  description(ORVEX_LABEL("How strongly the rays are laid over the image: at 50 at face value, "
                          "at 100 twice as strong"))
  value_range(orvex::setting_lower("brightness"), orvex::setting_upper("brightness"))
  ui_range(1.0, 100.0)

property_int(threshold, ORVEX_LABEL("Threshold"), orvex::setting_default_int("threshold"))
  description(ORVEX_LABEL("The value (0 - 255) a pixel must reach to become a light source; from 255 on, "
                          "only the cores of saturated areas, shrunk by threshold - 254 pixels"))
  value_range(orvex::setting_lower_int("threshold"), orvex::setting_upper_int("threshold"))
  ui_range(200, 300)

property_enum(threshold_type, ORVEX_LABEL("Threshold type"), OrvexThresholdType, orvex_threshold_type,
              static_cast<OrvexThresholdType>(orvex::setting_default_int("threshold_type")))
  description(ORVEX_LABEL("What is compared with the threshold: each colour channel on its own, the mean of "
                          "red, green and blue, or their weighted mean (the luminance)"))

property_double(angle, ORVEX_LABEL("Angle"), orvex::setting_default("angle"))
  description(ORVEX_LABEL("Direction of the first line in degrees: 0 is horizontal, larger angles turn it "
                          "clockwise"))
  value_range(orvex::setting_lower("angle"), orvex::setting_upper("angle"))
  ui_meta("unit", "degree")

property_enum(line_type, ORVEX_LABEL("Line type"), OrvexLineType, orvex_line_type,
              static_cast<OrvexLineType>(orvex::setting_default_int("line_type")))
  description(ORVEX_LABEL("How many lines run through each source, spread evenly over the half-turn"))

property_double(h0_density, ORVEX_LABEL("H0 density"), orvex::setting_default("h0_density"))
  description(ORVEX_LABEL("Strength of the first highlight along a ray; 0 switches it off"))
  value_range(orvex::setting_lower("h0_density"), orvex::setting_upper("h0_density"))

property_double(h0_extent, ORVEX_LABEL("H0 extent"), orvex::setting_default("h0_extent"))
  description(ORVEX_LABEL("Length of the first highlight: it fades to a third at extent^1.5 pixels"))
  value_range(orvex::setting_lower("h0_extent"), orvex::setting_upper("h0_extent"))
  ui_range(1.0, 50.0)
  ui_gamma(1.5)

property_double(h1_density, ORVEX_LABEL("H1 density"), orvex::setting_default("h1_density"))
  description(ORVEX_LABEL("Strength of the second highlight, for a long faint tail or a short bright core; "
                          "0 switches it off"))
  value_range(orvex::setting_lower("h1_density"), orvex::setting_upper("h1_density"))

property_double(h1_extent, ORVEX_LABEL("H1 extent"), orvex::setting_default("h1_extent"))
  description(ORVEX_LABEL("Length of the second highlight: it fades to a third at extent^1.5 pixels"))
  value_range(orvex::setting_lower("h1_extent"), orvex::setting_upper("h1_extent"))
  ui_range(1.0, 50.0)
  ui_gamma(1.5)

property_double(s_density, ORVEX_LABEL("SP density"), orvex::setting_default("s_density"))
  description(ORVEX_LABEL("Strength of the spectrum's ripple along a ray; 0 switches it off"))
  value_range(orvex::setting_lower("s_density"), orvex::setting_upper("s_density"))

property_double(s_extent, ORVEX_LABEL("SP extent"), orvex::setting_default("s_extent"))
  description(ORVEX_LABEL("Length of the ripple's envelope, as for the highlights"))
  value_range(orvex::setting_lower("s_extent"), orvex::setting_upper("s_extent"))
  ui_range(1.0, 50.0)
  ui_gamma(1.5)

property_double(s_amp, ORVEX_LABEL("SP amp"), orvex::setting_default("s_amp"))
  description(ORVEX_LABEL("Length scale of the ripple: larger values spread its bands further apart"))
  value_range(orvex::setting_lower("s_amp"), orvex::setting_upper("s_amp"))

property_double(s_dephasing, ORVEX_LABEL("SP phase"), orvex::setting_default("s_dephasing"))
  description(ORVEX_LABEL("How far green and blue ripple out of step with red: stronger colour fringes"))
  value_range(orvex::setting_lower("s_dephasing"), orvex::setting_upper("s_dephasing"))

#else

#define GEGL_OP_FILTER
#define GEGL_OP_NAME orvex_rays
#define GEGL_OP_C_SOURCE orvex_rays.cpp

#include <fftw3.h>
#include <gegl-op.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <new>
#include <string>

#include "engine/highlight_extraction.hpp"
#include "engine/render.hpp"
#include "gegl_io/buffer_pixels.hpp"

namespace {

// Models the engine renders in; premultiplied ones map to their straight form, others to R'G'B'A.
std::string engine_model(const Babl* source) {
  const std::string model = babl_get_name(babl_format_get_model(source));
  static constexpr const char* kKnown[] = {"RGBA", "RGB", "R'G'B'A", "R'G'B'", "R~G~B~A", "R~G~B~",
                                           "YA",   "Y",   "Y'A",     "Y'",     "Y~A",     "Y~"};
  for (const char* known : kKnown)
    if (model == known) return model;
  if (model == "RaGaBaA") return "RGBA";
  if (model == "R'aG'aB'aA") return "R'G'B'A";
  if (model == "R~aG~aB~aA") return "R~G~B~A";
  if (model == "YaA") return "YA";
  if (model == "Y'aA") return "Y'A";
  if (model == "Y~aA") return "Y~A";
  return "R'G'B'A";
}

// The input's own format where the engine can take it, so bytes stay bytes and 16 bits stay 16 bits.
const Babl* working_format(GeglOperation* operation) {
  const Babl* source = gegl_operation_get_source_format(operation, "input");
  const Babl* space = gegl_operation_get_source_space(operation, "input");
  if (!source) return babl_format_with_space("RGBA float", space);
  const std::string type = babl_get_name(babl_format_get_type(source, 0));
  const Babl* format = babl_format_with_space((engine_model(source) + " " + type).c_str(), space);
  return orvex::transfer_format(format, 0, 0).babl;
}

void prepare(GeglOperation* operation) {
  const Babl* format = working_format(operation);
  gegl_operation_set_format(operation, "input", format);
  gegl_operation_set_format(operation, "output", format);
}

GeglRectangle whole_input(GeglOperation* operation, const GeglRectangle* roi) {
  const GeglRectangle* input = gegl_operation_source_get_bounding_box(operation, "input");
  if (!input || gegl_rectangle_is_infinite_plane(input)) return *roi;
  return *input;
}

GeglRectangle get_required_for_output(GeglOperation* operation, const gchar*, const GeglRectangle* roi) {
  return whole_input(operation, roi);
}

GeglRectangle get_cached_region(GeglOperation* operation, const GeglRectangle* roi) {
  return whole_input(operation, roi);
}

GeglRectangle get_invalidated_by_change(GeglOperation* operation, const gchar*, const GeglRectangle* roi) {
  return whole_input(operation, roi);
}

orvex::ClampedSettings settings_of(const GeglProperties* o) {
  orvex::FilterSettings raw = orvex::default_settings();
  raw.brightness = o->brightness;
  raw.threshold = o->threshold;
  raw.threshold_type = o->threshold_type;
  raw.angle = o->angle;
  raw.line_type = o->line_type;
  raw.h0_density = o->h0_density;
  raw.h0_extent = o->h0_extent;
  raw.h1_density = o->h1_density;
  raw.h1_extent = o->h1_extent;
  raw.s_density = o->s_density;
  raw.s_extent = o->s_extent;
  raw.s_amp = o->s_amp;
  raw.s_dephasing = o->s_dephasing;
  return orvex::ClampedSettings(raw);
}

int render_threads() {
  gint threads = 1;
  g_object_get(gegl_config(), "threads", &threads, nullptr);
  return std::max(threads, static_cast<gint>(g_get_num_processors()));
}

void render(GeglOperation* operation, GeglBuffer* input, GeglBuffer* output, const GeglRectangle& area) {
  const orvex::ClampedSettings settings = settings_of(GEGL_PROPERTIES(operation));
  const orvex::TransferFormat format = orvex::transfer_format(gegl_operation_get_format(operation, "output"),
                                                              area.width, area.height);
  const orvex::Rect rect{area.x, area.y, area.width, area.height};
  orvex::reserve_transfer_memory(input);
  orvex::PixelBuffer pixels = orvex::read_pixels(input, rect, format);
  const int threads = render_threads();
  orvex::PixelBuffer highlights;
  if (settings->threshold > 254) {
    // GIMP 3 hands its layers over with its own rounding; on byte and sRGB layers both agree.
    const orvex::LayerEncoding encoding{orvex::sample_curve(format.babl), orvex::GimpRounding::gimp3};
    highlights = orvex::extract_highlights(settings, pixels.view(), encoding, threads);
  }
  const orvex::ConstPixels highlight_view = highlights.view();
  orvex::RenderOptions options(threads);
  options.progress = [operation](double fraction) {
    gegl_operation_progress(operation, fraction, const_cast<gchar*>(""));
  };
  const orvex::ConstPixels* sources = settings->threshold > 254 ? &highlight_view : nullptr;
  orvex::render_layer(settings, {pixels.view(), nullptr, sources}, pixels.view(), options);
  orvex::write_pixels(output, rect, format, pixels.view());
}

// Runs inside GIMP's own process: nothing may escape into GEGL. On failure the image passes unchanged.
gboolean process(GeglOperation* operation, GeglBuffer* input, GeglBuffer* output, const GeglRectangle* result,
                 gint) {
  const GeglRectangle area = whole_input(operation, result);
  const char* reason = nullptr;
  std::string what;
  try {
    render(operation, input, output, area);
    return TRUE;
  } catch (const std::bad_alloc&) {
    reason = "not enough memory";
  } catch (const std::exception& error) {
    what = error.what();
    reason = what.c_str();
  } catch (...) {
    reason = "an unknown error";
  }
  std::fprintf(stderr, "orvex:rays: the %d x %d image passes unchanged: %s\n", area.width, area.height,
               reason);
  gegl_buffer_copy(input, result, GEGL_ABYSS_NONE, output, result);
  return TRUE;
}

// An infinite plane has no whole to render: it passes through as it is.
gboolean operation_process(GeglOperation* operation, GeglOperationContext* context, const gchar* output_pad,
                           const GeglRectangle* result, gint level) {
  const GeglRectangle* input = gegl_operation_source_get_bounding_box(operation, "input");
  if (input && gegl_rectangle_is_infinite_plane(input)) {
    gpointer in = gegl_operation_context_get_object(context, "input");
    gegl_operation_context_take_object(context, "output", G_OBJECT(g_object_ref(G_OBJECT(in))));
    return TRUE;
  }
  return GEGL_OPERATION_CLASS(gegl_op_parent_class)->process(operation, context, output_pad, result, level);
}

}  // namespace

static void gegl_op_class_init(GeglOpClass* klass) {
  // GIMP's process may hold other FFTW users; the engine's own planner lock covers only its plans.
  fftw_make_planner_thread_safe();
  GeglOperationClass* operation_class = GEGL_OPERATION_CLASS(klass);
  GeglOperationFilterClass* filter_class = GEGL_OPERATION_FILTER_CLASS(klass);
  filter_class->process = process;
  operation_class->prepare = prepare;
  operation_class->process = operation_process;
  operation_class->threaded = FALSE;
  operation_class->get_required_for_output = get_required_for_output;
  operation_class->get_cached_region = get_cached_region;
  operation_class->get_invalidated_by_change = get_invalidated_by_change;
  // op-version is stored with every effect in an XCF and must match on loading: never change it.
  gegl_operation_class_set_keys(operation_class,
      "name", "orvex:rays",
      "title", "Orvex",
      "categories", "light",
      "op-version", "0:1",
      "gimp:menu-path", "<Image>/Filters/Vandelkit",
      "gimp:menu-label", "Orvex...",
      "description",
      "Lays straight rays of light over the bright points of the image: every pixel that reaches "
      "the threshold sends rays along one to four lines, fading in two highlights and a "
      "coloured ripple.",
      nullptr);
}

#endif
