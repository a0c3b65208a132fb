#include "gegl_io/layer_sources.hpp"

#include "engine/render.hpp"

namespace orvex {

namespace {

// Rows read at once, GIMP's tile height: the sources of each strip are collected while the next
// ones are read.
constexpr std::int64_t kStripRows = 64;

}  // namespace

LayerSources read_layer_and_sources(GeglBuffer* layer, const TransferFormat& format, PixelBuffer& pixels,
                                    const std::optional<PixelBuffer>& mask, const ClampedSettings& settings,
                                    int threads, const HighlightFinder& find_highlights) {
  reserve_transfer_memory(layer);
  const MutablePixels view = pixels.view();
  const auto read = [&](std::int64_t first, std::int64_t count) { read_rows(layer, format, view, first, count); };
  const ConstPixels mask_view = mask ? mask->view() : ConstPixels{};
  LayerInput input{view, mask ? &mask_view : nullptr};
  if (settings->threshold <= 254)
    return collect_sources_while_filling(settings, source_input(settings, input), threads, kStripRows, read);
  read(0, view.layout.height);
  const PixelBuffer highlights = find_highlights(view);
  const ConstPixels highlight_view = highlights.view();
  input.highlights = &highlight_view;
  return collect_sources(settings, source_input(settings, input), threads);
}

}  // namespace orvex
