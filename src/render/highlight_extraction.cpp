#include "render/highlight_extraction.hpp"

#include <algorithm>
#include <array>
#include <span>
#include <stdexcept>
#include <vector>

#include "plugin/gimp_handles.hpp"
#include "plugin/plugin_state.hpp"
#include "render/host_scopes.hpp"
#include "render/pixel_io.hpp"

namespace orvex {

namespace {

constexpr const char* kTempChannelName = "__orvex_temp_channel";
constexpr gdouble kFeatherRadius = 2.0;

// White. Its alpha plays no part: the default context never selects by transparency.
constexpr GimpRGB kSaturated{1.0, 1.0, 1.0, 0.0};

constexpr std::array<GimpChannelType, 3> kRgbComponents{GIMP_RED_CHANNEL, GIMP_GREEN_CHANNEL,
                                                        GIMP_BLUE_CHANNEL};
constexpr std::array<GimpChannelType, 1> kGrayComponents{GIMP_GRAY_CHANNEL};

struct Origin {
  gint x;
  gint y;
};

// Where the region starts in drawable coordinates, clamped as the render driver clamps it.
Origin region_origin(GimpDrawable* drawable, GimpPreview* preview) {
  if (!preview) return {0, 0};
  Origin origin{};
  gimp_preview_get_position(preview, &origin.x, &origin.y);
  origin.x = std::clamp(origin.x, 0, static_cast<gint>(drawable->width));
  origin.y = std::clamp(origin.y, 0, static_cast<gint>(drawable->height));
  return origin;
}

// 1 px at 255, one more per step above, so that higher thresholds keep only larger cores.
gint shrink_steps(std::int32_t threshold) { return static_cast<gint>(threshold - 255.0) + 1; }

// The copy is placed explicitly in both modes: the host's copy keeps the source layer's
// offsets, which would push parts of an offset layer off the temporary canvas.
gint32 add_region_copy(gint32 drawable_id, gint32 image, const Origin& origin) {
  const gint32 layer = gimp_layer_new_from_drawable(drawable_id, image);
  if (layer <= 0) throw std::runtime_error("could not copy the drawable");
  gimp_image_add_layer(image, layer, 0);
  gimp_layer_set_offsets(layer, -origin.x, -origin.y);
  gimp_layer_resize_to_image_size(layer);
  return layer;
}

void select_saturated_component(gint32 image, GimpChannelType component) {
  const gint32 channel = gimp_channel_new_from_component(image, component, kTempChannelName);
  if (channel <= 0) throw std::runtime_error("could not make a channel from a component");
  gimp_image_insert_channel(image, channel, 0, 0);
  gimp_threshold(channel, 255, 255);
  gimp_image_select_color(image, GIMP_CHANNEL_OP_ADD, channel, &kSaturated);
  gimp_image_remove_channel(image, channel);
}

void set_components_active(gint32 image, std::span<const GimpChannelType> components,
                           gboolean active) {
  for (const GimpChannelType component : components)
    gimp_image_set_component_active(image, component, active);
}

// Blacks out everything but the shrunk, feathered saturated areas, in the given component
// (or in all colour components when `only` is null).
void black_out_all_but_selection(gint32 image, gint32 layer,
                                 std::span<const GimpChannelType> colour_components,
                                 const GimpChannelType* only) {
  if (!gimp_selection_is_empty(image)) {
    gimp_selection_shrink(image, shrink_steps(settings.threshold));
    gimp_selection_feather(image, kFeatherRadius);
  }
  if (only) {
    set_components_active(image, colour_components, FALSE);
    gimp_image_set_component_active(image, *only, TRUE);
  }
  gimp_selection_invert(image);
  gimp_edit_fill(layer, GIMP_FOREGROUND_FILL);
  set_components_active(image, colour_components, TRUE);
}

// A fresh selection and default context per pass: black foreground, exact colour matching.
void start_pass(gint32 image) {
  gimp_selection_none(image);
  gimp_context_set_defaults();
}

ChannelPlanes read_layer(gint32 layer_id, std::int64_t width, std::int64_t height) {
  const DrawableHandle layer(layer_id);
  if (!layer) throw std::runtime_error("the temporary layer is gone");
  GimpDrawable* drawable = layer.get();
  if (drawable->width != width || drawable->height != height)
    throw std::runtime_error("the temporary layer does not cover the region");
  const Rect whole{0, 0, static_cast<gint>(width), static_cast<gint>(height)};
  const std::vector<std::uint8_t> pixels = read_rect(drawable, whole);
  return read_planes(pixels, static_cast<int>(drawable->bpp), width, height);
}

}  // namespace

void extract_highlights(GimpDrawable* drawable, GimpPreview* preview, int threshold_type,
                        std::int64_t width, std::int64_t height, int bpp, ChannelPlanes& source) {
  const int colours = colour_count(bpp);
  const bool whole_colour = colours == 3 && threshold_type != 0;
  const std::span<const GimpChannelType> components =
      colours == 3 ? std::span<const GimpChannelType>(kRgbComponents)
                   : std::span<const GimpChannelType>(kGrayComponents);

  // The drawable's own colour model, not its image's: a layer mask or channel is gray
  // inside an RGB image.
  const GimpImageBaseType base_type =
      gimp_drawable_is_gray(drawable->drawable_id) ? GIMP_GRAY : GIMP_RGB;
  const TemporaryImage scratch(static_cast<gint>(width), static_cast<gint>(height), base_type);
  const gint32 image = scratch.id();
  // Nobody can undo in an image without a display; the history would only hold layer copies.
  gimp_image_undo_disable(image);
  const gint32 layer =
      add_region_copy(drawable->drawable_id, image, region_origin(drawable, preview));

  ChannelPlanes extracted;
  {
    const ContextScope context;
    if (whole_colour) {
      start_pass(image);
      gimp_image_select_color(image, GIMP_CHANNEL_OP_ADD, layer, &kSaturated);
      black_out_all_but_selection(image, layer, components, nullptr);
    } else {
      for (const GimpChannelType& component : components) {
        start_pass(image);
        select_saturated_component(image, component);
        black_out_all_but_selection(image, layer, components, &component);
      }
    }
    extracted = read_layer(layer, width, height);
  }

  if (colour_count(extracted.count()) != colours)
    throw std::runtime_error("the temporary layer has another colour model");
  for (int c = 0; c < colours; ++c) std::ranges::copy(extracted.plane(c), source.plane(c).begin());
}

}  // namespace orvex
