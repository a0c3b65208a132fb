#include "engine/render.hpp"

#include <utility>

namespace orvex {

SourceInput source_input(const ClampedSettings& settings, const LayerInput& input) {
  if (settings->threshold > 254 && input.highlights) return {*input.highlights, nullptr};
  return {input.pixels, input.mask, input.maxima};
}

void render_layer(const ClampedSettings& settings, const LayerInput& input, const MutablePixels& out,
                  const RenderOptions& options) {
  render_sources(settings, collect_sources(settings, source_input(settings, input), options.threads), input.pixels,
                 out, options);
}

void render_sources(const ClampedSettings& settings, LayerSources sources, const ConstPixels& layer,
                    const MutablePixels& out, const RenderOptions& options) {
  RayField field(settings, std::move(sources), options.method);
  const PixelLayout& layout = layer.layout;
  const Rect whole{0, 0, layout.width, layout.height};

  // One rising fraction over the dense channels' transforms and the stamping after them.
  const double transforms = field.convolved_count();
  const double share = transforms / (transforms + 4);
  RenderOptions transforming = options;
  RenderOptions stamping = options;
  if (options.progress) {
    transforming.progress = [&](double f) { options.progress(share * f); };
    stamping.progress = [&](double f) { options.progress(share + (1 - share) * f); };
  }
  // Into the layer itself: each dense channel is blended once convolved, one plane held at a time.
  if (layer.bytes.data() == out.bytes.data())
    field.convolve_into(settings->brightness, out, transforming);
  else
    field.convolve(transforming);
  field.render(whole, settings->brightness, layer, out, stamping);
}

}  // namespace orvex
