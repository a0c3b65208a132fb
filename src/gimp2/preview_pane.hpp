// The dialog's live preview: renders the visible part of the drawable as OK would, the whole
// layer fitted into it or at one of the zoom steps.
#pragma once

#include <libgimp/gimp.h>
#include <libgimp/gimpui.h>

#include <chrono>
#include <memory>
#include <optional>

#include "engine/filter_settings.hpp"
#include "engine/preview_renderer.hpp"
#include "gegl_io/buffer_pixels.hpp"
#include "host_common/preview_scale.hpp"

namespace orvex {

class PreviewPane {
 public:
  // zoom: none for the whole layer fitted.
  PreviewPane(gint32 drawable, const ClampedSettings& settings, std::optional<PreviewScale> zoom);
  ~PreviewPane();
  PreviewPane(const PreviewPane&) = delete;
  PreviewPane& operator=(const PreviewPane&) = delete;

  GtkWidget* widget() const { return widget_; }
  // Asks for a new render once the widget's short delay has passed.
  void invalidate() const { gimp_preview_invalidate(GIMP_PREVIEW(widget_)); }
  std::optional<PreviewScale> zoom() const { return zoom_; }

 private:
  static void on_invalidated(GimpPreview* preview, PreviewPane* pane);
  static gboolean on_poll(gpointer pane);
  static void on_area_allocated(GtkWidget* area, GtkAllocation* allocation, PreviewPane* pane);
  static void on_zoom_chosen(GtkComboBox* combo, PreviewPane* pane);
  void add_zoom_choice();
  void show_at(PreviewScale scale);
  void render();
  void draw(const PreviewRenderer::Frame& frame);
  Rect visible_rect() const;  // in the scaled layer's pixels

  gint32 drawable_;
  const ClampedSettings& settings_;
  GtkWidget* widget_;
  TransferFormat format_{};
  const Babl* format_in_profile_ = nullptr;  // format_'s, in the image's colour space
  std::unique_ptr<PreviewRenderer> renderer_;  // made at the first render
  guint poll_source_ = 0;
  std::chrono::steady_clock::time_point changed_at_;  // of the latest render, for timing
  std::int64_t layer_width_, layer_height_;
  std::optional<PreviewScale> zoom_;
  PreviewScale scale_{};  // the zoom's, or the fitted one
  bool bounded_ = false;  // the scaled layer's bounds set, replacing GIMP's (the selection's)
  std::optional<std::pair<double, double>> centre_to_keep_;  // in layer pixels, once the new bounds are laid out
};

}  // namespace orvex
