#include "gegl_io/buffer_pixels.hpp"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>

namespace orvex {

namespace {

SampleType sample_type_of(const Babl* type) {
  const std::string name = babl_get_name(type);
  if (name == "u8") return SampleType::u8;
  if (name == "u16") return SampleType::u16;
  if (name == "half" || name == "float") return SampleType::f32;
  return SampleType::f64;  // u32, double
}

const char* type_name(SampleType type) {
  switch (type) {
    case SampleType::u8: return "u8";
    case SampleType::u16: return "u16";
    case SampleType::f32: return "float";
    case SampleType::f64: return "double";
  }
  return "u8";
}

const Babl* with_type(const Babl* format, SampleType type) {
  const std::string model = babl_get_name(babl_format_get_model(format));
  return babl_format_with_space((model + " " + type_name(type)).c_str(), format);
}

GeglRectangle gegl_rect(const Rect& rect) {
  return {static_cast<gint>(rect.x), static_cast<gint>(rect.y), static_cast<gint>(rect.width),
          static_cast<gint>(rect.height)};
}

}  // namespace

void init_gegl_for_buffers() {
  g_setenv("GEGL_PATH", "/nonexistent/orvex-uses-no-gegl-operations", TRUE);
  g_setenv("BABL_INHIBIT_CACHE", "1", TRUE);
  gegl_init(nullptr, nullptr);
}

TransferFormat transfer_format(const Babl* own_format, std::int64_t width, std::int64_t height) {
  const SampleType type = sample_type_of(babl_format_get_type(own_format, 0));
  const std::string own_type = babl_get_name(babl_format_get_type(own_format, 0));
  const Babl* format = own_type == type_name(type) ? own_format : with_type(own_format, type);
  return {format, {width, height, babl_format_get_n_components(format), type}};
}

SampleCurve sample_curve(const Babl* format) {
  const std::string model = babl_get_name(babl_format_get_model(format));
  return model.find_first_of("'~") == std::string::npos ? SampleCurve::linear : SampleCurve::srgb;
}

void reserve_transfer_memory(GeglBuffer* buffer) {
  guint64 cache_bytes = 0;
  g_object_get(gegl_config(), "tile-cache-size", &cache_bytes, nullptr);
  const GeglRectangle* extent = gegl_buffer_get_extent(buffer);
  const auto buffer_bytes = static_cast<guint64>(extent->width) * static_cast<guint64>(extent->height) *
                            static_cast<guint64>(babl_format_get_bytes_per_pixel(gegl_buffer_get_format(buffer)));
  // Taken and given back at once; the volatile store keeps the compiler from leaving out the pair.
  void* volatile reserved = std::malloc(static_cast<std::size_t>(std::min(cache_bytes, buffer_bytes)) + 1);
  if (!reserved) throw std::bad_alloc();
  std::free(reserved);
}

PixelBuffer read_pixels(GeglBuffer* buffer, const Rect& rect, const TransferFormat& format) {
  PixelLayout layout = format.layout;
  layout.width = rect.width;
  layout.height = rect.height;
  PixelBuffer pixels(layout);
  if (pixels.bytes.empty()) return pixels;
  const GeglRectangle area = gegl_rect(rect);
  gegl_buffer_get(buffer, &area, 1.0, format.babl, pixels.bytes.data(),
                  static_cast<gint>(layout.row_bytes()), GEGL_ABYSS_NONE);
  return pixels;
}

void read_rows(GeglBuffer* buffer, const TransferFormat& format, const MutablePixels& pixels, std::int64_t first,
               std::int64_t count) {
  if (first < 0 || count < 0 || first + count > pixels.layout.height)
    throw std::invalid_argument("the rows lie outside the pixels");
  if (pixels.layout.channels != format.layout.channels || pixels.layout.type != format.layout.type)
    throw std::invalid_argument("the pixels are not in the format read");
  if (count == 0 || pixels.layout.width == 0) return;
  const GeglRectangle area = gegl_rect({0, first, pixels.layout.width, count});
  gegl_buffer_get(buffer, &area, 1.0, format.babl, pixels.bytes.data() + first * pixels.layout.row_bytes(),
                  static_cast<gint>(pixels.layout.row_bytes()), GEGL_ABYSS_NONE);
}

void write_pixels(GeglBuffer* buffer, const Rect& rect, const TransferFormat& format,
                  const ConstPixels& pixels) {
  if (pixels.layout.width != rect.width || pixels.layout.height != rect.height ||
      pixels.layout.channels != format.layout.channels || pixels.layout.type != format.layout.type)
    throw std::invalid_argument("the pixels do not match the rectangle");
  const GeglRectangle area = gegl_rect(rect);
  gegl_buffer_set(buffer, &area, 0, format.babl, pixels.bytes.data(),
                  static_cast<gint>(pixels.layout.row_bytes()));
  gegl_buffer_flush(buffer);
}

void write_rows(GeglBuffer* buffer, const TransferFormat& format, const ConstPixels& pixels, std::int64_t first,
                std::int64_t count) {
  if (first < 0 || count < 0 || first + count > pixels.layout.height)
    throw std::invalid_argument("the rows lie outside the pixels");
  PixelLayout rows = pixels.layout;
  rows.height = count;
  write_pixels(buffer, {0, first, rows.width, count}, format,
               {rows, pixels.bytes.subspan(static_cast<std::size_t>(first * rows.row_bytes()),
                                           static_cast<std::size_t>(rows.byte_count()))});
}

TransferFormat mask_format(SampleType layer_type, std::int64_t width, std::int64_t height) {
  const SampleType type = layer_type == SampleType::u8 ? SampleType::u8 : SampleType::f32;
  return {babl_format(type == SampleType::u8 ? "Y u8" : "Y float"), {width, height, 1, type}};
}

std::vector<std::uint8_t> display_bytes(const ConstPixels& pixels, const Babl* format) {
  const bool alpha = babl_format_has_alpha(format);
  const bool gray = colour_count(pixels.layout.channels) == 1;
  const char* name = gray ? (alpha ? "Y'A u8" : "Y' u8") : (alpha ? "R'G'B'A u8" : "R'G'B' u8");
  // In sRGB, as GIMP's canvas shows a layer of any profile on a display it has no profile for.
  const Babl* display = babl_format(name);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(pixels.layout.pixel_count() *
                                                           babl_format_get_n_components(display)));
  babl_process(babl_fish(format, display), pixels.bytes.data(), bytes.data(),
               static_cast<long>(pixels.layout.pixel_count()));
  return bytes;
}

}  // namespace orvex
