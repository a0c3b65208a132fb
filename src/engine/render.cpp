#include "engine/render.hpp"

namespace orvex {

SourceInput source_input(const ClampedSettings& settings, const LayerInput& input) {
  if (settings->threshold > 254 && input.highlights) return {*input.highlights, nullptr};
  return {input.pixels, input.mask, input.maxima};
}

void render_layer(const ClampedSettings& settings, const LayerInput& input, const MutablePixels& out,
                  const RenderOptions& options) {
  RayField field(settings, collect_sources(settings, source_input(settings, input), options.threads),
                 options.method);
  const PixelLayout& layout = input.pixels.layout;
  const Rect whole{0, 0, layout.width, layout.height};

  // One rising fraction over the dense channels' transforms and the stamping after them.
  const double transforms = field.convolved_count();
  const double share = transforms / (transforms + 4);
  int transformed = 0;
  RenderOptions stamping = options;
  if (options.progress)
    stamping.progress = [&](double f) { options.progress(share + (1 - share) * f); };
  field.convolve(options, [&] {
    if (options.progress) options.progress(share * ++transformed / transforms);
  });
  field.render(whole, settings->brightness, input.pixels, out, stamping);
}

}  // namespace orvex
