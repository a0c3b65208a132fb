// The dialog's live preview: renders the visible part of the drawable as OK would.
#pragma once

#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>

#include <memory>

#include "engine/filter_settings.hpp"
#include "engine/preview_renderer.hpp"
#include "gegl_io/buffer_pixels.hpp"

namespace orvex {

class PreviewPane {
 public:
  PreviewPane(GimpDrawable* drawable, const ClampedSettings& settings);
  ~PreviewPane();
  PreviewPane(const PreviewPane&) = delete;
  PreviewPane& operator=(const PreviewPane&) = delete;

  GtkWidget* widget() const { return widget_; }
  // Asks for a new render once the widget's short delay has passed.
  void invalidate() const { gimp_preview_invalidate(GIMP_PREVIEW(widget_)); }

 private:
  static void on_invalidated(GimpPreview* preview, PreviewPane* pane);
  static gboolean on_poll(gpointer pane);
  void render();
  void draw(const PreviewRenderer::Frame& frame);
  Rect visible_rect() const;

  GimpDrawable* drawable_;
  const ClampedSettings& settings_;
  GtkWidget* widget_;
  TransferFormat format_{};
  std::unique_ptr<PreviewRenderer> renderer_;  // made at the first render
  guint poll_source_ = 0;
};

}  // namespace orvex
