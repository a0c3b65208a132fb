#include <array>
#include <span>

#include "engine/highlight_bounds.hpp"
#include "gimp3/gimp_owners.hpp"
#include "gimp3/render_driver.hpp"

namespace orvex {

namespace {

constexpr const char* kTempChannelName = "__orvex_temp_channel";
constexpr gint kFeatherRadius = 2;

constexpr std::array<GimpChannelType, 3> kRgbComponents{GIMP_CHANNEL_RED, GIMP_CHANNEL_GREEN, GIMP_CHANNEL_BLUE};
constexpr std::array<GimpChannelType, 1> kGrayComponents{GIMP_CHANNEL_GRAY};

// A step that GIMP did not carry out would leave wrong sources: the call ends with GIMP's reason.
void require(gboolean done, const char* procedure) {
  if (done) return;
  const bool said = gimp_pdb_get_last_status(gimp_get_pdb()) != GIMP_PDB_SUCCESS;
  throw highlight_step_failure(procedure, said ? gimp_pdb_get_last_error(gimp_get_pdb()) : nullptr);
}

// 1 px at 255, one more per step above, so that higher thresholds keep only larger cores.
gint shrink_steps(std::int32_t threshold) { return static_cast<gint>(threshold - 255.0) + 1; }

// Floating-point layers are copied into a 16-bit scratch image of the same TRC (linear,
// non-linear and perceptual keep their place in the hundreds): the conversion clamps to 0..1,
// so that values at or above 1.0 all count as saturated. So are 32-bit integer layers: GIMP's
// fill passes their samples through single floats, which brings full scale back just below
// 1.0, and no highlight would be left.
GimpPrecision scratch_precision(GimpImage* image) {
  const GimpPrecision own = gimp_image_get_precision(image);
  if (own < GIMP_PRECISION_U32_LINEAR) return own;
  return static_cast<GimpPrecision>(GIMP_PRECISION_U16_LINEAR + own % 100);
}

// The copy keeps the drawable's offsets, which would push parts of an offset layer off the
// scratch canvas: it is placed so that `part` of it fills the canvas.
GimpLayer* add_copy(GimpDrawable* drawable, GimpImage* image, const Rect& part) {
  GimpLayer* layer = gimp_layer_new_from_drawable(drawable, image);
  if (!layer || !gimp_image_insert_layer(image, layer, nullptr, 0))
    throw Failure(_("GIMP could not copy the layer"));
  require(gimp_layer_set_offsets(layer, static_cast<gint>(-part.x), static_cast<gint>(-part.y)),
          "gimp-layer-set-offsets");
  require(gimp_layer_resize_to_image_size(layer), "gimp-layer-resize-to-image-size");
  return layer;
}

void select_saturated_component(GimpImage* image, GimpChannelType component, GeglColor* white) {
  GimpChannel* channel = gimp_channel_new_from_component(image, component, kTempChannelName);
  if (!channel) throw Failure(_("GIMP could not copy a colour component"));
  require(gimp_image_insert_channel(image, channel, nullptr, 0), "gimp-image-insert-channel");
  require(gimp_drawable_threshold(GIMP_DRAWABLE(channel), GIMP_HISTOGRAM_VALUE, 1.0, 1.0), "gimp-drawable-threshold");
  require(gimp_image_select_color(image, GIMP_CHANNEL_OP_ADD, GIMP_DRAWABLE(channel), white),
          "gimp-image-select-color");
  require(gimp_image_remove_channel(image, channel), "gimp-image-remove-channel");
}

void set_components_active(GimpImage* image, std::span<const GimpChannelType> components, gboolean active) {
  for (const GimpChannelType component : components)
    require(gimp_image_set_component_active(image, component, active), "gimp-image-set-component-active");
}

// Blacks out everything but the shrunk, feathered saturated areas, in the given component
// (or in all colour components when `only` is null).
void black_out_all_but_selection(GimpImage* image, GimpLayer* layer, std::int32_t threshold,
                                 std::span<const GimpChannelType> colour_components, const GimpChannelType* only) {
  if (!gimp_selection_is_empty(image)) {
    require(gimp_selection_shrink(image, shrink_steps(threshold)), "gimp-selection-shrink");
    require(gimp_selection_feather(image, kFeatherRadius), "gimp-selection-feather");
  }
  if (only) {
    set_components_active(image, colour_components, FALSE);
    set_components_active(image, {only, 1}, TRUE);
  }
  require(gimp_selection_invert(image), "gimp-selection-invert");
  require(gimp_drawable_edit_fill(GIMP_DRAWABLE(layer), GIMP_FILL_FOREGROUND), "gimp-drawable-edit-fill");
  set_components_active(image, colour_components, TRUE);
}

// A fresh selection and default context per pass: black foreground and, as in GIMP 2.10,
// a sample threshold of 15/255 for selecting by colour.
void start_pass(GimpImage* image) {
  require(gimp_selection_none(image), "gimp-selection-none");
  require(gimp_context_set_defaults(), "gimp-context-set-defaults");
}

}  // namespace

PixelBuffer extract_highlights(GimpDrawable* drawable, const ClampedSettings& settings, const ConstPixels& pixels) {
  const bool gray = gimp_drawable_is_gray(drawable);
  const bool whole_colour = !gray && settings->threshold_type != 0;
  const std::span<const GimpChannelType> components =
      gray ? std::span<const GimpChannelType>(kGrayComponents) : std::span<const GimpChannelType>(kRgbComponents);
  // The shrink and the feather reach a few pixels around the saturated areas; the operations
  // run on that part alone, with nothing saturated on none at all.
  const Rect part = highlight_bounds(pixels, whole_colour, shrink_steps(settings->threshold) + 2 * kFeatherRadius + 4);
  if (part.width == 0) return PixelBuffer(pixels.layout);

  // The drawable's own colour model, not its image's: a layer mask or channel is gray
  // inside an RGB image.
  const TemporaryImage scratch(static_cast<gint>(part.width), static_cast<gint>(part.height), gray ? GIMP_GRAY : GIMP_RGB,
                               scratch_precision(gimp_item_get_image(GIMP_ITEM(drawable))));
  GimpImage* image = scratch.get();
  // Nobody can undo in an image without a display; the history would only hold layer copies.
  gimp_image_undo_disable(image);
  GimpLayer* layer = add_copy(drawable, image, part);

  const ContextScope context;
  const ColorOwner white(gegl_color_new("white"));
  if (whole_colour) {
    start_pass(image);
    require(gimp_image_select_color(image, GIMP_CHANNEL_OP_ADD, GIMP_DRAWABLE(layer), white.get()),
            "gimp-image-select-color");
    black_out_all_but_selection(image, layer, settings->threshold, components, nullptr);
  } else {
    for (const GimpChannelType& component : components) {
      start_pass(image);
      select_saturated_component(image, component, white.get());
      black_out_all_but_selection(image, layer, settings->threshold, components, &component);
    }
  }
  // Read at the part's place in a layer-sized rectangle: outside the scratch layer it is black.
  const BufferOwner buffer(gimp_drawable_get_buffer(GIMP_DRAWABLE(layer)));
  if (!buffer) throw Failure(_("GIMP could not hand over the scratch layer"));
  return read_pixels(buffer.get(), {-part.x, -part.y, pixels.layout.width, pixels.layout.height},
                     transfer_format(gimp_drawable_get_format(GIMP_DRAWABLE(layer)), 0, 0));
}

}  // namespace orvex
