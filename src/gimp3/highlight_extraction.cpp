#include "gegl_io/buffer_pixels.hpp"
#include "gimp3/render_driver.hpp"

namespace orvex {

PixelBuffer extract_highlights(GimpDrawable* drawable, const ClampedSettings& settings, const ConstPixels& pixels) {
  const LayerEncoding encoding{sample_curve(gimp_drawable_get_format(drawable)), GimpRounding::gimp3};
  return extract_highlights(settings, pixels, encoding, host_threads());
}

}  // namespace orvex
