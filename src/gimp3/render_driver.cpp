#include "gimp3/render_driver.hpp"

#include <cstdlib>
#include <new>
#include <string>
#include <utility>

#include "engine/render.hpp"
#include "gegl_io/layer_sources.hpp"
#include "gimp3/gimp_owners.hpp"

namespace orvex {

namespace {

bool contents_locked(GimpItem* item) {
  for (; item; item = gimp_item_get_parent(item))
    if (gimp_item_get_lock_content(item)) return true;
  return false;
}

// Made for an image but never inserted: GIMP knows the image yet will not take pixels back.
bool in_image(GimpItem* item) {
  if (gimp_item_is_layer_mask(item)) item = GIMP_ITEM(gimp_layer_from_mask(GIMP_LAYER_MASK(item)));
  GimpImage* image = item ? gimp_item_get_image(item) : nullptr;
  if (!image) return false;
  gimp_image_get_item_position(image, item);
  return gimp_pdb_get_last_status(gimp_get_pdb()) == GIMP_PDB_SUCCESS;
}

std::optional<PixelBuffer> read_selection(GimpImage* image, GimpDrawable* drawable, const PixelLayout& layout) {
  if (gimp_selection_is_empty(image)) return std::nullopt;
  gint x = 0;
  gint y = 0;
  gimp_drawable_get_offsets(drawable, &x, &y);
  const BufferOwner selection(gimp_drawable_get_buffer(GIMP_DRAWABLE(gimp_image_get_selection(image))));
  if (!selection) throw Failure(_("GIMP could not hand over the selection"));
  // Where the drawable leaves the canvas nothing is selected: the buffer reads zero there.
  return read_pixels(selection.get(), {x, y, layout.width, layout.height},
                     mask_format(layout.type, layout.width, layout.height));
}

// Merges the written shadow as one undo step, with the selection and selected items put back.
void merge_rendered(const DrawablePixels& d) {
  const SelectedItems selected(d.image);
  const bool was_clean = !gimp_image_is_dirty(d.image);
  std::optional<UndoGroup> undo(std::in_place, d.image);
  // Merging the shadow respects the selection, and the rays must reach the whole layer.
  std::optional<ClearedSelection> cleared;
  try {
    cleared.emplace(d.image);
  } catch (const Failure&) {
    // Nothing was changed, but even an empty undo group marks the image dirty.
    undo.reset();
    if (was_clean) gimp_image_clean_all(d.image);
    throw;
  }
  if (!gimp_drawable_merge_shadow(d.drawable, TRUE)) {
    std::string reason = _("GIMP refused to take the rendered pixels");
    if (const gchar* error = gimp_pdb_get_last_error(gimp_get_pdb()); error && *error)
      reason += std::string(": ") + error;
    throw Failure(reason);
  }
  gimp_drawable_update(d.drawable, 0, 0, static_cast<gint>(d.pixels.layout.width),
                       static_cast<gint>(d.pixels.layout.height));
  if (cleared) cleared->restore_or_throw();
}

GeglBuffer* layer_buffer(GimpDrawable* drawable) {
  GeglBuffer* buffer = gimp_drawable_get_buffer(drawable);
  if (!buffer) throw Failure(_("GIMP could not hand over the layer's pixels"));
  return buffer;
}

// The drawable's format and selection, with room for its pixels, which are not read yet.
DrawablePixels unread_drawable(GimpDrawable* drawable) {
  const gint width = gimp_drawable_get_width(drawable);
  const gint height = gimp_drawable_get_height(drawable);
  try {
    DrawablePixels d{drawable, gimp_item_get_image(GIMP_ITEM(drawable)),
                     transfer_format(gimp_drawable_get_format(drawable), width, height), {}, {}};
    d.pixels = PixelBuffer(d.format.layout);
    d.mask = read_selection(d.image, drawable, d.format.layout);
    return d;
  } catch (const std::bad_alloc&) {
    throw Failure(memory_failure(width, height));
  }
}

}  // namespace

void check_drawable(GimpDrawable* drawable) {
  GimpItem* item = GIMP_ITEM(drawable);
  if (!drawable || !gimp_item_is_valid(item) || !gimp_item_is_drawable(item))
    throw Failure(_("no drawable was given"));
  if (gimp_item_is_selection(item)) throw Failure(_("the selection mask cannot be rendered"));
  if (!in_image(item)) throw Failure(_("the layer is not part of an image"));
  if (gimp_item_is_group(item)) throw Failure(_("a layer group has no pixels of its own to render"));
  if (contents_locked(item)) throw Failure(_("the layer's contents are locked"));
  if (!gimp_drawable_is_rgb(drawable) && !gimp_drawable_is_gray(drawable))
    throw Failure(_("indexed layers cannot be rendered: convert the image to RGB or grayscale first"));
}

DrawablePixels read_drawable(GimpDrawable* drawable) {
  DrawablePixels d = unread_drawable(drawable);
  const BufferOwner layer(layer_buffer(drawable));
  reserve_transfer_memory(layer.get());
  read_rows(layer.get(), d.format, d.pixels.view(), 0, d.pixels.layout.height);
  return d;
}

int host_threads() {
  const std::unique_ptr<gchar, GFree> preference(gimp_gimprc_query("num-processors"));
  const int threads = preference ? std::atoi(preference.get()) : 0;
  return threads > 0 ? threads : static_cast<int>(g_get_num_processors());
}

void render_drawable(GimpDrawable* drawable, const ClampedSettings& settings) {
  const ProgressScope progress;
  gimp_progress_init(_("Rendering ..."));
  DrawablePixels d = unread_drawable(drawable);
  try {
    const int threads = host_threads();
    // The layer's buffer goes, with the tiles GEGL holds for it, before the render.
    LayerSources sources = [&] {
      const BufferOwner layer(layer_buffer(d.drawable));
      return read_layer_and_sources(layer.get(), d.format, d.pixels, d.mask, settings, threads,
                                    [&](const ConstPixels& pixels) { return extract_highlights(d.drawable, settings, pixels); });
    }();
    gimp_progress_set_text(_("Drawing Orvex Lines ..."));

    const BufferOwner shadow(gimp_drawable_get_shadow_buffer(d.drawable));
    if (!shadow) throw Failure(_("GIMP refused to take the rendered pixels"));
    reserve_transfer_memory(shadow.get());
    RenderOptions options(threads);
    options.progress = [](double fraction) { gimp_progress_update(fraction); };
    // Finished rows go into the shadow while the workers go on; the drawable changes only at the merge.
    options.rows_done = [&](std::int64_t first, std::int64_t count) {
      write_rows(shadow.get(), d.format, d.pixels.view(), first, count);
    };
    render_sources(settings, std::move(sources), d.pixels.view(), d.pixels.view(), options);
  } catch (const std::bad_alloc&) {
    throw Failure(memory_failure(d.pixels.layout.width, d.pixels.layout.height));
  }
  merge_rendered(d);
}

}  // namespace orvex
