#include "gimp3/preview_pane.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "gimp3/gimp_owners.hpp"
#include "gimp3/render_driver.hpp"

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

PreviewPane::PreviewPane(GimpDrawable* drawable, const ClampedSettings& settings)
    : drawable_(drawable), settings_(settings), widget_(gimp_drawable_preview_new_from_drawable(drawable)) {
  g_signal_connect(widget_, "invalidated", G_CALLBACK(on_invalidated), this);
  // GIMP's drawable preview keeps to the selection's bounds (and the canvas); the rays that
  // OK writes reach the whole layer.
  gimp_preview_set_bounds(GIMP_PREVIEW(widget_), 0, 0, gimp_drawable_get_width(drawable),
                          gimp_drawable_get_height(drawable));
  fill_both_ways(GIMP_PREVIEW(widget_));
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
    if (auto frame = pane->renderer_->poll()) pane->draw(*frame);
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
  const std::int64_t layer_width = format_.layout.width, layer_height = format_.layout.height;
  const std::int64_t left = std::clamp<std::int64_t>(x, 0, layer_width);
  const std::int64_t top = std::clamp<std::int64_t>(y, 0, layer_height);
  return {left, top, std::clamp<std::int64_t>(width, 0, layer_width - left),
          std::clamp<std::int64_t>(height, 0, layer_height - top)};
}

void PreviewPane::render() {
  const auto start = std::chrono::steady_clock::now();
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
  const PreviewRenderer::Frame frame = renderer_->render(settings_, view);
  draw(frame);
  if (renderer_->pending() && !poll_source_) poll_source_ = g_timeout_add(kPollMilliseconds, on_poll, this);
  if (timing_requested()) {
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    std::fprintf(stderr, "orvex: preview render %lldx%lld took %.1f ms%s\n", static_cast<long long>(view.width),
                 static_cast<long long>(view.height), took.count(), frame.exact ? "" : " (exact one pending)");
  }
}

void PreviewPane::draw(const PreviewRenderer::Frame& frame) {
  // A frame for a part the user has scrolled away from would land in the wrong place.
  if (!(frame.view == visible_rect())) return;
  const std::vector<std::uint8_t> bytes = display_bytes(frame.pixels.view(), format_.babl);
  const auto row = static_cast<gint>(bytes.size() / static_cast<std::size_t>(frame.view.height));
  // Drawn as it is: GIMP's own drawing would show the original outside the selection, where
  // the rays land as well.
  gimp_preview_area_draw(GIMP_PREVIEW_AREA(gimp_preview_get_area(GIMP_PREVIEW(widget_))), 0, 0,
                         static_cast<gint>(frame.view.width), static_cast<gint>(frame.view.height),
                         gimp_drawable_type(drawable_), bytes.data(), row);
}

}  // namespace orvex
