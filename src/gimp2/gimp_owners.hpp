// Owners for what GIMP hands out or what must be undone on every path, early returns and
// exceptions included.
#pragma once

#include <libgimp/gimp.h>

#include <memory>
#include <utility>

#include "host_common/failure.hpp"
#include "host_common/i18n.hpp"

namespace orvex {

struct GFree {
  void operator()(gpointer memory) const { g_free(memory); }
};

struct GObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
using BufferOwner = std::unique_ptr<GeglBuffer, GObjectUnref>;

class UndoGroup {
 public:
  explicit UndoGroup(gint32 image) : image_(image) { gimp_image_undo_group_start(image_); }
  ~UndoGroup() { gimp_image_undo_group_end(image_); }
  UndoGroup(const UndoGroup&) = delete;
  UndoGroup& operator=(const UndoGroup&) = delete;

 private:
  gint32 image_;
};

// The image's active layer and channel, put back on destruction: adding and removing a
// channel makes GIMP activate other items.
class ActiveItems {
 public:
  explicit ActiveItems(gint32 image)
      : image_(image), layer_(gimp_image_get_active_layer(image)),
        channel_(gimp_image_get_active_channel(image)) {}
  ~ActiveItems() {
    if (channel_ > 0 && gimp_item_is_valid(channel_)) gimp_image_set_active_channel(image_, channel_);
    if (layer_ > 0 && gimp_item_is_valid(layer_)) gimp_image_set_active_layer(image_, layer_);
    if (layer_ <= 0 && channel_ <= 0) gimp_image_unset_active_channel(image_);
  }
  ActiveItems(const ActiveItems&) = delete;
  ActiveItems& operator=(const ActiveItems&) = delete;

 private:
  gint32 image_;
  gint32 layer_;
  gint32 channel_;
};

// Saves a non-empty selection as a channel and clears it; loads it back and removes the
// copy on destruction. A selection that cannot be saved is never cleared.
class ClearedSelection {
 public:
  explicit ClearedSelection(gint32 image) : image_(image) {
    if (gimp_selection_is_empty(image_)) return;
    saved_ = gimp_selection_save(image_);
    if (saved_ <= 0) throw Failure(_("the selection could not be saved"));
    if (!gimp_selection_none(image_)) {
      restore();
      throw Failure(_("the selection could not be cleared"));
    }
  }
  ~ClearedSelection() { restore(); }
  ClearedSelection(const ClearedSelection&) = delete;
  ClearedSelection& operator=(const ClearedSelection&) = delete;

  // Loads the selection back now; when GIMP cannot, the saved channel stays and the failure names it.
  void restore_or_throw() {
    if (!restore()) throw selection_kept_failure(kept_name_.get());
  }

 private:
  // False when the selection could not be loaded back: the saved channel is then kept, never removed.
  bool restore() {
    if (saved_ <= 0) return true;
    const gint32 saved = std::exchange(saved_, 0);
    if (!gimp_selection_load(saved)) {
      kept_name_.reset(gimp_item_get_name(saved));
      return false;
    }
    gimp_image_remove_channel(image_, saved);
    return true;
  }

  gint32 image_;
  gint32 saved_ = 0;
  std::unique_ptr<gchar, GFree> kept_name_;
};

class ProgressScope {
 public:
  ProgressScope() = default;
  ~ProgressScope() { gimp_progress_end(); }
  ProgressScope(const ProgressScope&) = delete;
  ProgressScope& operator=(const ProgressScope&) = delete;
};

}  // namespace orvex
