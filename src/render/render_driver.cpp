#include "render/render_driver.hpp"

#include <algorithm>
#include <exception>

#include "plugin/gimp_handles.hpp"
#include "plugin/i18n.hpp"
#include "plugin/plugin_state.hpp"
#include "render/engine/render_region.hpp"
#include "render/highlight_extraction.hpp"
#include "render/pixel_io.hpp"

namespace orvex {

namespace {

Rect drawable_rect(const GimpDrawable* drawable) {
  return {0, 0, static_cast<gint>(drawable->width), static_cast<gint>(drawable->height)};
}

// The preview's visible area, kept inside the drawable.
Rect preview_rect(GimpPreview* preview, const GimpDrawable* drawable) {
  Rect rect{};
  gimp_preview_get_position(preview, &rect.x, &rect.y);
  gimp_preview_get_size(preview, &rect.width, &rect.height);
  const Rect whole = drawable_rect(drawable);
  rect.x = std::clamp(rect.x, 0, whole.width);
  rect.y = std::clamp(rect.y, 0, whole.height);
  rect.width = std::clamp(rect.width, 0, whole.width - rect.x);
  rect.height = std::clamp(rect.height, 0, whole.height - rect.y);
  return rect;
}

// Worker threads report progress here, one at a time (the engine serialises the calls).
void report_progress(double fraction) { gimp_progress_update(fraction); }

// Everything is computed before the image is touched, so a failure leaves it as it was.
std::vector<std::uint8_t> compute(GimpDrawable* drawable, GimpPreview* preview, gint32 image,
                                  const Rect& rect) {
  const int bpp = static_cast<int>(drawable->bpp);
  const std::vector<std::uint8_t> pixels = read_rect(drawable, rect);
  std::vector<std::uint8_t> mask;
  if (!gimp_selection_is_empty(image))
    mask = read_selection_mask(image, drawable->drawable_id, rect);

  RenderHooks hooks;
  hooks.thread_count = static_cast<int>(std::max(1u, g_get_num_processors()));
  if (!preview) hooks.progress = report_progress;
  hooks.replace_sources = [&](ChannelPlanes& source) {
    extract_highlights(drawable, preview, settings.threshold_type, rect.width, rect.height, bpp,
                       source);
  };
  hooks.before_stamping = [] { gimp_progress_set_text(_("Drawing Orvex Lines ...")); };
  const PixelRegion region{rect.width, rect.height, bpp, pixels};
  return render_region(settings, region, mask, hooks);
}

void commit_to_drawable(GimpDrawable* drawable, gint32 image, const Rect& rect,
                        const std::vector<std::uint8_t>& output) {
  const UndoGroup undo(image);
  // Merging the shadow respects the selection, and the rays must reach the whole layer.
  const ClearedSelection cleared(image);
  write_rect_to_shadow(drawable, rect, output);
  gimp_progress_update(1.0);
  gimp_drawable_flush(drawable);
  gimp_drawable_merge_shadow(drawable->drawable_id, TRUE);
  gimp_drawable_update(drawable->drawable_id, rect.x, rect.y, rect.width, rect.height);
}

}  // namespace

bool render(GimpDrawable* drawable, GimpPreview* preview) {
  const gint32 image = gimp_drawable_get_image(drawable->drawable_id);
  clamp_settings(settings);
  const ProgressScope progress;
  const Rect rect = preview ? preview_rect(preview, drawable) : drawable_rect(drawable);
  if (rect.width <= 0 || rect.height <= 0) return true;
  if (!preview) gimp_progress_init(_("Rendering ..."));
  try {
    const std::vector<std::uint8_t> output = compute(drawable, preview, image, rect);
    if (preview)
      gimp_preview_draw_buffer(preview, output.data(), rect.width * static_cast<gint>(drawable->bpp));
    else
      commit_to_drawable(drawable, image, rect, output);
  } catch (const std::exception&) {
    // Out of memory or a failed host call: nothing has been written into the image.
    return false;
  }
  return true;
}

}  // namespace orvex
