#include "ui/preview_render.hpp"

#include <chrono>
#include <cstdio>

#include "render/render_driver.hpp"

namespace orvex {

namespace {

// Set ORVEX_TRACE_TIMING to have every preview render's duration written to stderr.
bool timing_requested() {
  static const bool requested = g_getenv("ORVEX_TRACE_TIMING") != nullptr;
  return requested;
}

void render_preview(GimpPreview* preview) {
  GimpDrawable* drawable = gimp_drawable_preview_get_drawable(GIMP_DRAWABLE_PREVIEW(preview));
  if (!timing_requested()) {
    render(drawable, preview);
    return;
  }
  gint width = 0;
  gint height = 0;
  gimp_preview_get_size(preview, &width, &height);
  const auto start = std::chrono::steady_clock::now();
  render(drawable, preview);
  const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
  std::fprintf(stderr, "orvex: preview render %dx%d took %.1f ms\n", width, height, took.count());
}

}  // namespace

void preview_invalidated(GimpPreview* preview, gpointer /*unused*/) {
  // A GTK signal handler: nothing may unwind into the toolkit. A failed render leaves
  // the preview as it was.
  try {
    render_preview(preview);
  } catch (...) {
  }
}

}  // namespace orvex
