// Owners for what the host hands out or what must be undone on every path.
#pragma once

#include <libgimp/gimp.h>

namespace orvex {

class DrawableHandle {
 public:
  explicit DrawableHandle(gint32 drawable_id)
      : drawable_(gimp_item_is_valid(drawable_id) ? gimp_drawable_get(drawable_id) : nullptr) {}
  ~DrawableHandle() {
    if (drawable_) gimp_drawable_detach(drawable_);
  }
  DrawableHandle(const DrawableHandle&) = delete;
  DrawableHandle& operator=(const DrawableHandle&) = delete;

  GimpDrawable* get() const { return drawable_; }
  explicit operator bool() const { return drawable_ != nullptr; }

 private:
  GimpDrawable* drawable_;
};

class UndoGroup {
 public:
  explicit UndoGroup(gint32 image) : image_(image) { gimp_image_undo_group_start(image_); }
  ~UndoGroup() { gimp_image_undo_group_end(image_); }
  UndoGroup(const UndoGroup&) = delete;
  UndoGroup& operator=(const UndoGroup&) = delete;

 private:
  gint32 image_;
};

// Saves a non-empty selection and clears it; loads it back and drops the copy on destruction.
class ClearedSelection {
 public:
  explicit ClearedSelection(gint32 image) : image_(image) {
    if (gimp_selection_is_empty(image_)) return;
    saved_ = gimp_selection_save(image_);
    gimp_selection_none(image_);
  }
  ~ClearedSelection() {
    if (saved_ <= 0) return;
    gimp_selection_load(saved_);
    gimp_image_remove_channel(image_, saved_);
  }
  ClearedSelection(const ClearedSelection&) = delete;
  ClearedSelection& operator=(const ClearedSelection&) = delete;

 private:
  gint32 image_;
  gint32 saved_ = 0;
};

class ProgressScope {
 public:
  ProgressScope() = default;
  ~ProgressScope() { gimp_progress_end(); }
  ProgressScope(const ProgressScope&) = delete;
  ProgressScope& operator=(const ProgressScope&) = delete;
};

}  // namespace orvex
