#include "gimp2/highlight_extraction.hpp"

#include "gegl_io/buffer_pixels.hpp"
#include "gimp2/render_driver.hpp"

namespace orvex {

PixelBuffer extract_highlights(gint32 drawable_id, const ClampedSettings& settings, const ConstPixels& layer) {
  const LayerEncoding encoding{sample_curve(gimp_drawable_get_format(drawable_id)), GimpRounding::gimp2};
  return extract_highlights(settings, layer, encoding, host_threads());
}

}  // namespace orvex
