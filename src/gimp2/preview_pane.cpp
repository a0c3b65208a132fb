#include "gimp2/preview_pane.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <utility>

#include "gimp2/highlight_extraction.hpp"
#include "gimp2/render_driver.hpp"
#include "host_common/i18n.hpp"

namespace orvex {

namespace {

constexpr guint kPollMilliseconds = 30;

// ORVEX_TRACE_TIMING=1 writes each update's duration to stderr (for benchmarks).
bool timing_requested() {
  static const bool requested = g_getenv("ORVEX_TRACE_TIMING") != nullptr;
  return requested;
}

// GIMP keeps its preview about square (an aspect frame follows the preview's first size) and
// hides the navigation button as soon as one scroll bar goes: the preview is let fill the
// dialog both ways, and the button stays while any part of the layer is out of view.
void fill_both_ways(GimpPreview* preview) {
  GtkWidget* table = preview->table;
  g_object_ref(table);
  gtk_container_remove(GTK_CONTAINER(preview->frame), table);
  gtk_widget_set_no_show_all(preview->frame, TRUE);
  gtk_widget_hide(preview->frame);
  gtk_box_pack_start(GTK_BOX(preview), table, TRUE, TRUE, 0);
  gtk_box_reorder_child(GTK_BOX(preview), table, 0);
  g_object_unref(table);
}

void keep_navigation(GimpScrolledPreview* preview) {
  gtk_widget_set_visible(preview->nav_icon,
                         gtk_widget_get_visible(preview->hscr) || gtk_widget_get_visible(preview->vscr));
}

// libgimp 2.10 hands the layer's format without the image's colour space: with it, the preview
// shows the colours of the image's profile in sRGB, as the canvas does. Without a profile of its
// own the image is in sRGB already, and the bytes pass unconverted.
const Babl* in_image_profile(gint32 drawable, const Babl* format) {
  GimpColorProfile* profile = gimp_image_get_color_profile(gimp_item_get_image(drawable));
  if (!profile) return format;
  GError* error = nullptr;
  const Babl* space = gimp_color_profile_get_space(profile, GIMP_COLOR_RENDERING_INTENT_RELATIVE_COLORIMETRIC, &error);
  g_clear_error(&error);
  g_object_unref(profile);
  return space ? babl_format_with_space(babl_get_name(format), space) : format;
}

}  // namespace

PreviewPane::PreviewPane(gint32 drawable, const ClampedSettings& settings, std::optional<PreviewScale> zoom)
    : drawable_(drawable), settings_(settings),
      widget_(gimp_drawable_preview_new_from_drawable_id(drawable)), layer_width_(gimp_drawable_width(drawable)),
      layer_height_(gimp_drawable_height(drawable)), zoom_(zoom) {
  g_signal_connect(widget_, "invalidated", G_CALLBACK(on_invalidated), this);
  fill_both_ways(GIMP_PREVIEW(widget_));
  // The area turns the sRGB bytes it is given into the monitor's colours, as the canvas does.
  GimpColorConfig* colours = gimp_get_color_configuration();
  gimp_preview_area_set_color_config(GIMP_PREVIEW_AREA(GIMP_PREVIEW(widget_)->area), colours);
  if (colours) g_object_unref(colours);
  g_signal_connect_after(GIMP_PREVIEW(widget_)->area, "size-allocate", G_CALLBACK(on_area_allocated), this);
  add_zoom_choice();
  // GIMP's drawable preview keeps to the selection's bounds (and the canvas); the rays that
  // OK writes reach the whole layer. Fitted, the scale follows the area's first size.
  show_at(zoom_.value_or(PreviewScale{}));
}

void PreviewPane::add_zoom_choice() {
  GtkWidget* combo = gtk_combo_box_text_new();
  gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(combo), _("Fit"));
  int active = 0;
  for (std::size_t step = 0; step < std::size(kZoomSteps); ++step) {
    gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(combo), zoom_name(kZoomSteps[step]).c_str());
    if (zoom_ == kZoomSteps[step]) active = static_cast<int>(step) + 1;
  }
  gtk_combo_box_set_active(GTK_COMBO_BOX(combo), active);
  gtk_widget_set_tooltip_text(combo, _("Zoom"));
  gtk_box_pack_end(GTK_BOX(gimp_preview_get_controls(GIMP_PREVIEW(widget_))), combo, FALSE, FALSE, 0);
  gtk_widget_show(combo);
  g_signal_connect(combo, "changed", G_CALLBACK(on_zoom_chosen), this);
}

void PreviewPane::on_zoom_chosen(GtkComboBox* combo, PreviewPane* pane) {
  const gint active = gtk_combo_box_get_active(combo);
  if (active < 0) return;
  pane->zoom_.reset();
  if (active > 0) pane->zoom_ = kZoomSteps[static_cast<std::size_t>(active - 1)];
  GtkAllocation area{};
  gtk_widget_get_allocation(GIMP_PREVIEW(pane->widget_)->area, &area);
  pane->show_at(pane->zoom_.value_or(fitted_scale(pane->layer_width_, pane->layer_height_, area.width, area.height)));
}

// Sets the scaled layer's bounds; the view is centred on the same layer point once GIMP's
// scrolled preview has laid the new bounds out.
void PreviewPane::show_at(PreviewScale scale) {
  if (bounded_ && scale == scale_) return;
  if (bounded_) {
    const Rect view = visible_rect();
    const auto to_layer = [&](double at) { return at * scale_.layer_pixels / scale_.preview_pixels; };
    centre_to_keep_ = {to_layer(static_cast<double>(view.x) + static_cast<double>(view.width) / 2),
                       to_layer(static_cast<double>(view.y) + static_cast<double>(view.height) / 2)};
  }
  scale_ = scale;
  gimp_preview_set_bounds(GIMP_PREVIEW(widget_), 0, 0, static_cast<gint>(scaled_extent(layer_width_, scale)),
                          static_cast<gint>(scaled_extent(layer_height_, scale)));
  // GIMP restores the position of the last opening, of whatever scale that was: each opens at the top left.
  if (!std::exchange(bounded_, true)) gimp_scrolled_preview_set_position(GIMP_SCROLLED_PREVIEW(widget_), 0, 0);
  gtk_widget_queue_resize(GIMP_PREVIEW(widget_)->area);
  invalidate();
}

void PreviewPane::on_area_allocated(GtkWidget* /*area*/, GtkAllocation* allocation, PreviewPane* pane) {
  auto* preview = GIMP_SCROLLED_PREVIEW(pane->widget_);
  keep_navigation(preview);
  if (!pane->zoom_) {
    const PreviewScale fitted = fitted_scale(pane->layer_width_, pane->layer_height_, allocation->width,
                                             allocation->height);
    if (!(fitted == pane->scale_)) return pane->show_at(fitted);
  }
  if (const auto centre = std::exchange(pane->centre_to_keep_, std::nullopt)) {
    const auto to_scaled = [&](double at) { return at * pane->scale_.preview_pixels / pane->scale_.layer_pixels; };
    gimp_scrolled_preview_set_position(preview, static_cast<gint>(to_scaled(centre->first) - allocation->width / 2.0),
                                       static_cast<gint>(to_scaled(centre->second) - allocation->height / 2.0));
  }
}

PreviewPane::~PreviewPane() {
  if (poll_source_) g_source_remove(poll_source_);
}

void PreviewPane::on_invalidated(GimpPreview* /*preview*/, PreviewPane* pane) {
  // A GTK signal handler: nothing may unwind into the toolkit. A failed render leaves the
  // preview as it was; the final render reports its own failures.
  try {
    pane->render();
  } catch (...) {
  }
}

gboolean PreviewPane::on_poll(gpointer data) {
  auto* pane = static_cast<PreviewPane*>(data);
  try {
    if (auto frame = pane->renderer_->poll()) {
      pane->draw(*frame);
      if (timing_requested()) {
        const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - pane->changed_at_;
        std::fprintf(stderr, "orvex: exact preview drawn %.0f ms after the change\n", took.count());
      }
    }
  } catch (...) {
  }
  if (pane->renderer_->pending()) return G_SOURCE_CONTINUE;
  pane->poll_source_ = 0;
  return G_SOURCE_REMOVE;
}

Rect PreviewPane::visible_rect() const {
  gint x = 0, y = 0, width = 0, height = 0;
  gimp_preview_get_position(GIMP_PREVIEW(widget_), &x, &y);
  gimp_preview_get_size(GIMP_PREVIEW(widget_), &width, &height);
  const std::int64_t layer_width = scaled_extent(layer_width_, scale_);
  const std::int64_t layer_height = scaled_extent(layer_height_, scale_);
  const std::int64_t left = std::clamp<std::int64_t>(x, 0, layer_width);
  const std::int64_t top = std::clamp<std::int64_t>(y, 0, layer_height);
  return {left, top, std::clamp<std::int64_t>(width, 0, layer_width - left),
          std::clamp<std::int64_t>(height, 0, layer_height - top)};
}

void PreviewPane::render() {
  const auto start = std::chrono::steady_clock::now();
  changed_at_ = start;
  if (!renderer_) {
    DrawablePixels d = read_drawable(drawable_);
    format_ = d.format;
    format_.layout = d.pixels.layout;
    format_in_profile_ = in_image_profile(drawable_, format_.babl);
    const gint32 drawable = drawable_;
    renderer_ = std::make_unique<PreviewRenderer>(
        std::move(d.pixels), std::move(d.mask),
        [drawable](const ClampedSettings& s, const ConstPixels& layer) { return extract_highlights(drawable, s, layer); },
        host_threads());
  }
  const Rect view = visible_rect();
  if (view.width <= 0 || view.height <= 0) return;
  const PreviewRenderer::Frame frame =
      renderer_->render(settings_, layer_rect_under(view, scale_, layer_width_, layer_height_));
  draw(frame);
  if (renderer_->pending() && !poll_source_) poll_source_ = g_timeout_add(kPollMilliseconds, on_poll, this);
  if (timing_requested()) {
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    std::fprintf(stderr,
                 "orvex: preview render %lldx%lld+%lld+%lld (threshold %d, brightness %g) took %.1f ms%s\n",
                 static_cast<long long>(view.width), static_cast<long long>(view.height),
                 static_cast<long long>(view.x), static_cast<long long>(view.y), settings_->threshold,
                 settings_->brightness, took.count(), frame.exact ? "" : " (exact one pending)");
  }
}

void PreviewPane::draw(const PreviewRenderer::Frame& frame) {
  // A frame for a part the user has scrolled away from would land in the wrong place.
  const Rect view = visible_rect();
  if (!(frame.view == layer_rect_under(view, scale_, layer_width_, layer_height_))) return;
  std::vector<std::uint8_t> bytes = display_bytes(frame.pixels.view(), format_in_profile_);
  const auto channels = static_cast<int>(bytes.size() / static_cast<std::size_t>(frame.view.width * frame.view.height));
  if (!(scale_ == PreviewScale{})) bytes = scale_display_pixels(bytes, frame.view, channels, view, scale_);
  // Drawn as it is: GIMP's own drawing would show the original outside the selection, where
  // the rays land as well.
  gimp_preview_area_draw(GIMP_PREVIEW_AREA(GIMP_PREVIEW(widget_)->area), 0, 0, static_cast<gint>(view.width),
                         static_cast<gint>(view.height), gimp_drawable_type(drawable_), bytes.data(),
                         static_cast<gint>(view.width) * channels);
}

}  // namespace orvex
