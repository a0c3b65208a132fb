// Owners for host state that the highlight extraction creates or changes for a while.
#pragma once

#include <libgimp/gimp.h>

#include <stdexcept>

namespace orvex {

// A scratch image that never gets a display; deleted with everything in it.
class TemporaryImage {
 public:
  TemporaryImage(gint width, gint height, GimpImageBaseType type)
      : id_(gimp_image_new(width, height, type)) {
    if (id_ <= 0) throw std::runtime_error("could not create a temporary image");
  }
  ~TemporaryImage() { gimp_image_delete(id_); }
  TemporaryImage(const TemporaryImage&) = delete;
  TemporaryImage& operator=(const TemporaryImage&) = delete;

  gint32 id() const { return id_; }

 private:
  gint32 id_;
};

// Context changes made inside the scope (colours, select-by-colour options) stay inside it:
// without the push they would reach the caller's context, which is the user's.
class ContextScope {
 public:
  ContextScope() { gimp_context_push(); }
  ~ContextScope() { gimp_context_pop(); }
  ContextScope(const ContextScope&) = delete;
  ContextScope& operator=(const ContextScope&) = delete;
};

}  // namespace orvex
