// Owners for what GIMP hands out or what must be undone on every path, early returns and
// exceptions included.
#pragma once

#include <libgimp/gimp.h>

#include <memory>
#include <utility>

#include "host_common/failure.hpp"
#include "host_common/i18n.hpp"

namespace orvex {

struct GObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GObjectOwner = std::unique_ptr<T, GObjectUnref>;
using BufferOwner = GObjectOwner<GeglBuffer>;
struct GFree {
  void operator()(gpointer memory) const { g_free(memory); }
};

// Undoing something twice is worse than not at all: scopes are neither copied nor moved.
struct Scope {
  Scope() = default;
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;
};

class UndoGroup : Scope {
 public:
  explicit UndoGroup(GimpImage* image) : image_(image) { gimp_image_undo_group_start(image_); }
  ~UndoGroup() { gimp_image_undo_group_end(image_); }

 private:
  GimpImage* image_;
};

// Context changes made inside the scope (colours, feathering, select-by-colour options) stay
// inside it: without the push they would reach the caller's context, which is the user's.
struct ContextScope : Scope {
  ContextScope() { gimp_context_push(); }
  ~ContextScope() { gimp_context_pop(); }
};

struct ProgressScope : Scope {
  ~ProgressScope() { gimp_progress_end(); }
};

// The image's selected layers and channels, put back on destruction: adding and removing a
// channel changes which items are selected.
class SelectedItems : Scope {
 public:
  explicit SelectedItems(GimpImage* image)
      : image_(image), layers_(gimp_image_get_selected_layers(image), g_free),
        channels_(gimp_image_get_selected_channels(image), g_free) {}
  ~SelectedItems() {
    static const GimpLayer* none[] = {nullptr};
    gimp_image_set_selected_layers(image_, layers_ ? const_cast<const GimpLayer**>(layers_.get()) : none);
    if (channels_ && channels_.get()[0])
      gimp_image_set_selected_channels(image_, const_cast<const GimpChannel**>(channels_.get()));
  }

 private:
  GimpImage* image_;
  std::unique_ptr<GimpLayer*, void (*)(gpointer)> layers_;  // NULL-terminated; the items are GIMP's
  std::unique_ptr<GimpChannel*, void (*)(gpointer)> channels_;
};

// Saves a non-empty selection as a channel and clears it; loads it back and removes the copy
// on destruction. A selection that cannot be saved is never cleared.
class ClearedSelection : Scope {
 public:
  explicit ClearedSelection(GimpImage* image) : image_(image) {
    if (gimp_selection_is_empty(image_)) return;
    saved_ = gimp_selection_save(image_);
    if (!saved_) throw Failure(_("the selection could not be saved"));
    if (!gimp_selection_none(image_)) {
      restore();
      throw Failure(_("the selection could not be cleared"));
    }
  }
  ~ClearedSelection() { restore(); }

  // Loads the selection back now; when GIMP cannot, the saved channel stays and the failure names it.
  void restore_or_throw() {
    if (!restore()) throw selection_kept_failure(kept_name_.get());
  }

 private:
  // False when the selection could not be loaded back: the saved channel is then kept, never removed.
  bool restore() {
    if (!saved_) return true;
    GimpChannel* saved = std::exchange(saved_, nullptr);
    // Loading a channel follows the context's feathering, which is the user's to set.
    const ContextScope context;
    gimp_context_set_feather(FALSE);
    if (!gimp_image_select_item(image_, GIMP_CHANNEL_OP_REPLACE, GIMP_ITEM(saved))) {
      kept_name_.reset(gimp_item_get_name(GIMP_ITEM(saved)));
      return false;
    }
    gimp_image_remove_channel(image_, saved);
    return true;
  }

  GimpImage* image_;
  GimpChannel* saved_ = nullptr;
  std::unique_ptr<gchar, GFree> kept_name_;
};

}  // namespace orvex
