#include "gimp2/render_driver.hpp"

#include <cstdlib>
#include <new>
#include <string>
#include <utility>

#include "engine/render.hpp"
#include "gegl_io/layer_sources.hpp"
#include "gimp2/gimp_owners.hpp"
#include "gimp2/highlight_extraction.hpp"

namespace orvex {

namespace {

bool contents_locked(gint32 item) {
  for (; item > 0; item = gimp_item_get_parent(item))
    if (gimp_item_get_lock_content(item)) return true;
  return false;
}

// Made for an image but never inserted: GIMP knows the image yet will not take pixels back.
bool in_image(gint32 item, gint32 image) {
  if (gimp_item_is_layer_mask(item)) item = gimp_layer_from_mask(item);
  gimp_image_get_item_position(image, item);
  return gimp_get_pdb_status() == GIMP_PDB_SUCCESS;
}

std::optional<PixelBuffer> read_selection(gint32 image, gint32 drawable, const PixelLayout& layout) {
  if (gimp_selection_is_empty(image)) return std::nullopt;
  gint x = 0;
  gint y = 0;
  gimp_drawable_offsets(drawable, &x, &y);
  const BufferOwner selection(gimp_drawable_get_buffer(gimp_image_get_selection(image)));
  if (!selection) throw Failure(_("GIMP could not hand over the selection"));
  // Where the drawable leaves the canvas nothing is selected: the buffer reads zero there.
  return read_pixels(selection.get(), {x, y, layout.width, layout.height},
                     mask_format(layout.type, layout.width, layout.height));
}

// Merges the written shadow as one undo step, with the selection, channels and active items
// put back as they were.
void merge_rendered(const DrawablePixels& d) {
  const ActiveItems active(d.image);
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
    if (gimp_get_pdb_status() != GIMP_PDB_SUCCESS) reason += std::string(": ") + gimp_get_pdb_error();
    throw Failure(reason);
  }
  gimp_drawable_update(d.drawable, 0, 0, static_cast<gint>(d.pixels.layout.width),
                       static_cast<gint>(d.pixels.layout.height));
  if (cleared) cleared->restore_or_throw();
}

GeglBuffer* layer_buffer(gint32 drawable_id) {
  GeglBuffer* buffer = gimp_drawable_get_buffer(drawable_id);
  if (!buffer) throw Failure(_("GIMP could not hand over the layer's pixels"));
  return buffer;
}

// The drawable's format and selection, with room for its pixels, which are not read yet.
DrawablePixels unread_drawable(gint32 drawable_id) {
  const gint width = gimp_drawable_width(drawable_id);
  const gint height = gimp_drawable_height(drawable_id);
  try {
    DrawablePixels d{drawable_id, gimp_item_get_image(drawable_id),
                     transfer_format(gimp_drawable_get_format(drawable_id), width, height), {}, {}};
    d.pixels = PixelBuffer(d.format.layout);
    d.mask = read_selection(d.image, drawable_id, d.format.layout);
    return d;
  } catch (const std::bad_alloc&) {
    throw Failure(memory_failure(width, height));
  }
}

}  // namespace

void check_drawable(gint32 drawable_id) {
  if (drawable_id <= 0 || !gimp_item_is_valid(drawable_id) || !gimp_item_is_drawable(drawable_id))
    throw Failure(_("no drawable was given"));
  if (gimp_item_is_selection(drawable_id)) throw Failure(_("the selection mask cannot be rendered"));
  if (!in_image(drawable_id, gimp_item_get_image(drawable_id)))
    throw Failure(_("the layer is not part of an image"));
  if (gimp_item_is_group(drawable_id))
    throw Failure(_("a layer group has no pixels of its own to render"));
  if (contents_locked(drawable_id)) throw Failure(_("the layer's contents are locked"));
  if (!gimp_drawable_is_rgb(drawable_id) && !gimp_drawable_is_gray(drawable_id))
    throw Failure(_("indexed layers cannot be rendered: convert the image to RGB or grayscale first"));
}

DrawablePixels read_drawable(gint32 drawable_id) {
  DrawablePixels d = unread_drawable(drawable_id);
  const BufferOwner layer(layer_buffer(drawable_id));
  reserve_transfer_memory(layer.get());
  read_rows(layer.get(), d.format, d.pixels.view(), 0, d.pixels.layout.height);
  return d;
}

int host_threads() {
  gchar* preference = gimp_gimprc_query("num-processors");
  const int threads = preference ? std::atoi(preference) : 0;
  g_free(preference);
  return threads > 0 ? threads : static_cast<int>(g_get_num_processors());
}

void render_drawable(gint32 drawable_id, const ClampedSettings& settings) {
  const ProgressScope progress;
  gimp_progress_init(_("Rendering ..."));
  DrawablePixels d = unread_drawable(drawable_id);
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
