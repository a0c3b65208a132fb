#include "gimp3/preview_pane.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <utility>

#include "gimp3/gimp_owners.hpp"
#include "gimp3/render_driver.hpp"
#include "host_common/i18n.hpp"

namespace orvex {

namespace {

constexpr guint kPollMilliseconds = 30;

// ORVEX_TRACE_TIMING=1 writes each update's size and duration to stderr.
bool timing_requested() {
  static const bool requested = g_getenv("ORVEX_TRACE_TIMING") != nullptr;
  return requested;
}

// GIMP keeps its preview about square (an aspect frame follows the preview's first size): the
// preview's grid leaves the frame, so that it fills the dialog both ways.
void fill_both_ways(GimpPreview* preview) {
  GtkWidget* grid = gimp_preview_get_grid(preview);
  GtkWidget* frame = gimp_preview_get_frame(preview);
  if (gtk_widget_get_parent(grid) != frame) return;
  const GObjectOwner<GtkWidget> moving(GTK_WIDGET(g_object_ref(grid)));
  gtk_container_remove(GTK_CONTAINER(frame), grid);
  gtk_widget_set_no_show_all(frame, TRUE);
  gtk_widget_hide(frame);
  gtk_box_pack_start(GTK_BOX(preview), grid, TRUE, TRUE, 0);
  gtk_box_reorder_child(GTK_BOX(preview), grid, 0);
}

}  // namespace

PreviewPane::PreviewPane(GimpDrawable* drawable, const ClampedSettings& settings, std::optional<PreviewScale> zoom)
    : drawable_(drawable), settings_(settings), widget_(gimp_drawable_preview_new_from_drawable(drawable)),
      layer_width_(gimp_drawable_get_width(drawable)), layer_height_(gimp_drawable_get_height(drawable)), zoom_(zoom) {
  g_signal_connect(widget_, "invalidated", G_CALLBACK(on_invalidated), this);
  fill_both_ways(GIMP_PREVIEW(widget_));
  // The area turns the sRGB bytes it is given into the monitor's colours, as the canvas does.
  GimpColorConfig* colours = gimp_get_color_configuration();
  gimp_preview_area_set_color_config(GIMP_PREVIEW_AREA(gimp_preview_get_area(GIMP_PREVIEW(widget_))), colours);
  if (colours) g_object_unref(colours);
  g_signal_connect_after(gimp_preview_get_area(GIMP_PREVIEW(widget_)), "size-allocate", G_CALLBACK(on_area_allocated),
                         this);
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
  gtk_widget_get_allocation(gimp_preview_get_area(GIMP_PREVIEW(pane->widget_)), &area);
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
  gimp_scrolled_preview_set_policy(GIMP_SCROLLED_PREVIEW(widget_), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
  gtk_widget_queue_resize(gimp_preview_get_area(GIMP_PREVIEW(widget_)));
  invalidate();
}

void PreviewPane::on_area_allocated(GtkWidget* /*area*/, GtkAllocation* allocation, PreviewPane* pane) {
  auto* preview = GIMP_SCROLLED_PREVIEW(pane->widget_);
  if (!pane->zoom_) {
    const PreviewScale fitted = fitted_scale(pane->layer_width_, pane->layer_height_, allocation->width,
                                             allocation->height);
    // GTK lays out again only after this allocation has ended.
    if (!(fitted == pane->scale_) && !pane->relayout_source_)
      pane->relayout_source_ = g_idle_add(on_relayout, pane);
    if (!(fitted == pane->scale_)) return;
  }
  if (const auto centre = std::exchange(pane->centre_to_keep_, std::nullopt)) {
    const auto to_scaled = [&](double at) { return at * pane->scale_.preview_pixels / pane->scale_.layer_pixels; };
    gimp_scrolled_preview_set_position(preview, static_cast<gint>(to_scaled(centre->first) - allocation->width / 2.0),
                                       static_cast<gint>(to_scaled(centre->second) - allocation->height / 2.0));
  }
}

gboolean PreviewPane::on_relayout(gpointer data) {
  auto* pane = static_cast<PreviewPane*>(data);
  pane->relayout_source_ = 0;
  GtkAllocation area{};
  gtk_widget_get_allocation(gimp_preview_get_area(GIMP_PREVIEW(pane->widget_)), &area);
  if (!pane->zoom_) pane->show_at(fitted_scale(pane->layer_width_, pane->layer_height_, area.width, area.height));
  return G_SOURCE_REMOVE;
}

PreviewPane::~PreviewPane() {
  if (relayout_source_) g_source_remove(relayout_source_);
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
    GimpDrawable* drawable = drawable_;
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
    std::fprintf(stderr, "orvex: preview render %lldx%lld+%lld+%lld took %.1f ms%s\n",
                 static_cast<long long>(view.width), static_cast<long long>(view.height), static_cast<long long>(view.x), static_cast<long long>(view.y),
                 took.count(), frame.exact ? "" : " (exact one pending)");
  }
}

void PreviewPane::draw(const PreviewRenderer::Frame& frame) {
  // A frame for a part the user has scrolled away from would land in the wrong place.
  const Rect view = visible_rect();
  if (!(frame.view == layer_rect_under(view, scale_, layer_width_, layer_height_))) return;
  std::vector<std::uint8_t> bytes = display_bytes(frame.pixels.view(), format_.babl);
  const auto channels = static_cast<int>(bytes.size() / static_cast<std::size_t>(frame.view.width * frame.view.height));
  if (!(scale_ == PreviewScale{})) bytes = scale_display_pixels(bytes, frame.view, channels, view, scale_);
  // Drawn as it is: GIMP's own drawing would show the original outside the selection, where
  // the rays land as well.
  gimp_preview_area_draw(GIMP_PREVIEW_AREA(gimp_preview_get_area(GIMP_PREVIEW(widget_))), 0, 0,
                         static_cast<gint>(view.width), static_cast<gint>(view.height), gimp_drawable_type(drawable_),
                         bytes.data(),
                         static_cast<gint>(view.width) * channels);
}

}  // namespace orvex
