#include "render/pixel_io.hpp"

#include <algorithm>

#include "plugin/gimp_handles.hpp"

namespace orvex {

namespace {

constexpr std::int64_t kStripBytes = 1 << 26;

// Calls transfer(first_row, row_count, byte_offset) for each strip of rows of the rectangle.
template <typename Transfer>
void for_each_strip(const Rect& rect, gint bpp, Transfer&& transfer) {
  if (rect.width <= 0 || rect.height <= 0) return;
  const std::int64_t row_bytes = std::int64_t{rect.width} * bpp;
  const auto step = static_cast<gint>(
      std::clamp<std::int64_t>(kStripBytes / std::max<std::int64_t>(row_bytes, 1), 1, rect.height));
  for (gint row = 0; row < rect.height; row += step)
    transfer(row, std::min(step, rect.height - row), row * row_bytes);
}

}  // namespace

std::vector<std::uint8_t> read_rect(GimpDrawable* drawable, const Rect& rect) {
  const gint bpp = static_cast<gint>(drawable->bpp);
  const std::int64_t row_bytes = std::int64_t{rect.width} * bpp;
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(row_bytes * rect.height));
  if (pixels.empty()) return pixels;
  GimpPixelRgn region;
  gimp_pixel_rgn_init(&region, drawable, 0, 0, static_cast<gint>(drawable->width),
                      static_cast<gint>(drawable->height), FALSE, FALSE);
  for_each_strip(rect, bpp, [&](gint row, gint rows, std::int64_t offset) {
    gimp_pixel_rgn_get_rect(&region, pixels.data() + offset, rect.x, rect.y + row, rect.width, rows);
  });
  return pixels;
}

void write_rect_to_shadow(GimpDrawable* drawable, const Rect& rect,
                          std::span<const std::uint8_t> pixels) {
  const gint bpp = static_cast<gint>(drawable->bpp);
  GimpPixelRgn region;
  gimp_pixel_rgn_init(&region, drawable, 0, 0, static_cast<gint>(drawable->width),
                      static_cast<gint>(drawable->height), TRUE, TRUE);
  for_each_strip(rect, bpp, [&](gint row, gint rows, std::int64_t offset) {
    gimp_pixel_rgn_set_rect(&region, pixels.data() + offset, rect.x, rect.y + row, rect.width, rows);
  });
}

std::vector<std::uint8_t> read_selection_mask(gint32 image, gint32 drawable_id, const Rect& rect) {
  std::vector<std::uint8_t> mask(static_cast<std::size_t>(std::int64_t{rect.width} * rect.height), 0);
  gint off_x = 0;
  gint off_y = 0;
  gimp_drawable_offsets(drawable_id, &off_x, &off_y);
  // The rectangle on the canvas, clipped to the canvas.
  const gint left = std::max(rect.x + off_x, 0);
  const gint top = std::max(rect.y + off_y, 0);
  const gint right = std::min(rect.x + off_x + rect.width, gimp_image_width(image));
  const gint bottom = std::min(rect.y + off_y + rect.height, gimp_image_height(image));
  if (left >= right || top >= bottom) return mask;

  DrawableHandle selection(gimp_image_get_selection(image));
  if (!selection) return mask;
  const Rect canvas{left, top, right - left, bottom - top};
  const std::vector<std::uint8_t> inside = read_rect(selection.get(), canvas);
  const gint bpp = static_cast<gint>(selection.get()->bpp);
  for (gint row = 0; row < canvas.height; ++row) {
    const std::int64_t dst_row = std::int64_t{top - off_y - rect.y + row} * rect.width;
    const std::int64_t dst_col = left - off_x - rect.x;
    for (gint col = 0; col < canvas.width; ++col)
      mask[dst_row + dst_col + col] = inside[(std::int64_t{row} * canvas.width + col) * bpp];
  }
  return mask;
}

}  // namespace orvex
