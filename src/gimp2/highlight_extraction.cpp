#include "gimp2/highlight_extraction.hpp"

#include <algorithm>
#include <array>
#include <span>

#include "engine/highlight_bounds.hpp"
#include "gegl_io/buffer_pixels.hpp"
#include "gimp2/gimp_owners.hpp"

namespace orvex {

namespace {

constexpr const char* kTempChannelName = "__orvex_temp_channel";
constexpr gdouble kFeatherRadius = 2.0;

// White. Its alpha plays no part: the default context never selects by transparency.
constexpr GimpRGB kSaturated{1.0, 1.0, 1.0, 0.0};

constexpr std::array<GimpChannelType, 3> kRgbComponents{GIMP_RED_CHANNEL, GIMP_GREEN_CHANNEL,
                                                        GIMP_BLUE_CHANNEL};
constexpr std::array<GimpChannelType, 1> kGrayComponents{GIMP_GRAY_CHANNEL};

// A step that GIMP did not carry out would leave wrong sources: the call ends with GIMP's reason.
void require(gboolean done, const char* procedure) {
  if (done) return;
  const bool said = gimp_get_pdb_status() != GIMP_PDB_SUCCESS;
  throw highlight_step_failure(procedure, said ? gimp_get_pdb_error() : nullptr);
}

// 1 px at 255, one more per step above, so that higher thresholds keep only larger cores.
gint shrink_steps(std::int32_t threshold) { return static_cast<gint>(threshold - 255.0) + 1; }

// Float layers are copied into a 16-bit scratch image of the same TRC: the conversion
// clamps to 0..1, so that values at or above 1.0 all count as saturated. So are 32-bit
// integer layers: GIMP's fill passes their samples through single floats, which brings full
// scale back just below 1.0, and no highlight would be left.
GimpPrecision scratch_precision(gint32 image) {
  switch (const GimpPrecision own = gimp_image_get_precision(image)) {
    case GIMP_PRECISION_U32_LINEAR:
    case GIMP_PRECISION_HALF_LINEAR:
    case GIMP_PRECISION_FLOAT_LINEAR:
    case GIMP_PRECISION_DOUBLE_LINEAR: return GIMP_PRECISION_U16_LINEAR;
    case GIMP_PRECISION_U32_GAMMA:
    case GIMP_PRECISION_HALF_GAMMA:
    case GIMP_PRECISION_FLOAT_GAMMA:
    case GIMP_PRECISION_DOUBLE_GAMMA: return GIMP_PRECISION_U16_GAMMA;
    default: return own;
  }
}

// The copy keeps the drawable's offsets, which would push parts of an offset layer off the
// scratch canvas: it is placed so that `part` of it fills the canvas.
gint32 add_copy(gint32 drawable_id, gint32 image, const Rect& part) {
  const gint32 layer = gimp_layer_new_from_drawable(drawable_id, image);
  if (layer <= 0 || !gimp_image_insert_layer(image, layer, 0, 0))
    throw Failure(_("GIMP could not copy the layer"));
  require(gimp_layer_set_offsets(layer, static_cast<gint>(-part.x), static_cast<gint>(-part.y)),
          "gimp-layer-set-offsets");
  require(gimp_layer_resize_to_image_size(layer), "gimp-layer-resize-to-image-size");
  return layer;
}

void select_saturated_component(gint32 image, GimpChannelType component) {
  const gint32 channel = gimp_channel_new_from_component(image, component, kTempChannelName);
  if (channel <= 0) throw Failure(_("GIMP could not copy a colour component"));
  require(gimp_image_insert_channel(image, channel, 0, 0), "gimp-image-insert-channel");
  require(gimp_drawable_threshold(channel, GIMP_HISTOGRAM_VALUE, 1.0, 1.0), "gimp-drawable-threshold");
  require(gimp_image_select_color(image, GIMP_CHANNEL_OP_ADD, channel, &kSaturated), "gimp-image-select-color");
  require(gimp_image_remove_channel(image, channel), "gimp-image-remove-channel");
}

void set_components_active(gint32 image, std::span<const GimpChannelType> components,
                           gboolean active) {
  for (const GimpChannelType component : components)
    require(gimp_image_set_component_active(image, component, active), "gimp-image-set-component-active");
}

// Blacks out everything but the shrunk, feathered saturated areas, in the given component
// (or in all colour components when `only` is null).
void black_out_all_but_selection(gint32 image, gint32 layer, std::int32_t threshold,
                                 std::span<const GimpChannelType> colour_components,
                                 const GimpChannelType* only) {
  if (!gimp_selection_is_empty(image)) {
    require(gimp_selection_shrink(image, shrink_steps(threshold)), "gimp-selection-shrink");
    require(gimp_selection_feather(image, kFeatherRadius), "gimp-selection-feather");
  }
  if (only) {
    set_components_active(image, colour_components, FALSE);
    set_components_active(image, {only, 1}, TRUE);
  }
  require(gimp_selection_invert(image), "gimp-selection-invert");
  require(gimp_drawable_edit_fill(layer, GIMP_FILL_FOREGROUND), "gimp-drawable-edit-fill");
  set_components_active(image, colour_components, TRUE);
}

// A fresh selection and default context per pass: black foreground, exact colour matching.
void start_pass(gint32 image) {
  require(gimp_selection_none(image), "gimp-selection-none");
  require(gimp_context_set_defaults(), "gimp-context-set-defaults");
}

// The scratch layer's pixels placed at `part` of a layer-sized buffer that is black elsewhere.
PixelBuffer read_layer(gint32 layer, const Rect& part, const PixelLayout& whole) {
  const BufferOwner buffer(gimp_drawable_get_buffer(layer));
  if (!buffer) throw Failure(_("GIMP could not hand over the scratch layer"));
  const TransferFormat format = transfer_format(gimp_drawable_get_format(layer), part.width, part.height);
  const PixelBuffer pixels = read_pixels(buffer.get(), {0, 0, part.width, part.height}, format);
  PixelBuffer placed(PixelLayout{whole.width, whole.height, pixels.layout.channels, pixels.layout.type});
  for (std::int64_t y = 0; y < part.height; ++y)
    std::copy_n(pixels.bytes.data() + y * pixels.layout.row_bytes(), pixels.layout.row_bytes(),
                placed.bytes.data() + (part.y + y) * placed.layout.row_bytes() + part.x * placed.layout.pixel_bytes());
  return placed;
}

}  // namespace

PixelBuffer extract_highlights(gint32 drawable_id, const ClampedSettings& settings, const ConstPixels& layer) {
  const bool gray = gimp_drawable_is_gray(drawable_id);
  const bool whole_colour = !gray && settings->threshold_type != 0;
  const std::span<const GimpChannelType> components =
      gray ? std::span<const GimpChannelType>(kGrayComponents)
           : std::span<const GimpChannelType>(kRgbComponents);

  // The shrink and the feather reach a few pixels around the saturated areas; the operations
  // run on that part alone, with nothing saturated on none at all.
  const gint shrink = shrink_steps(settings->threshold);
  const Rect part = highlight_bounds(layer, whole_colour, shrink + 2 * static_cast<gint>(kFeatherRadius) + 4);
  if (part.width == 0) return PixelBuffer(layer.layout);

  // The drawable's own colour model, not its image's: a layer mask or channel is gray
  // inside an RGB image.
  const TemporaryImage scratch(static_cast<gint>(part.width), static_cast<gint>(part.height),
                               gray ? GIMP_GRAY : GIMP_RGB, scratch_precision(gimp_item_get_image(drawable_id)));
  const gint32 image = scratch.id();
  // Nobody can undo in an image without a display; the history would only hold layer copies.
  gimp_image_undo_disable(image);
  const gint32 copy = add_copy(drawable_id, image, part);

  const ContextScope context;
  if (whole_colour) {
    start_pass(image);
    require(gimp_image_select_color(image, GIMP_CHANNEL_OP_ADD, copy, &kSaturated), "gimp-image-select-color");
    black_out_all_but_selection(image, copy, settings->threshold, components, nullptr);
  } else {
    for (const GimpChannelType& component : components) {
      start_pass(image);
      select_saturated_component(image, component);
      black_out_all_but_selection(image, copy, settings->threshold, components, &component);
    }
  }
  return read_layer(copy, part, layer.layout);
}

}  // namespace orvex
