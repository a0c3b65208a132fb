#include "host_common/preview_scale.hpp"

#include <algorithm>
#include <charconv>

namespace orvex {

namespace {

std::int64_t ceil_div(std::int64_t a, std::int64_t b) { return (a + b - 1) / b; }

}  // namespace

std::string zoom_name(PreviewScale scale) {
  return std::to_string(scale.preview_pixels) + ":" + std::to_string(scale.layer_pixels);
}

std::optional<PreviewScale> parse_zoom_name(std::string_view name) {
  for (const PreviewScale step : kZoomSteps)
    if (name == zoom_name(step)) return step;
  return std::nullopt;
}

PreviewScale fitted_scale(std::int64_t layer_width, std::int64_t layer_height, std::int64_t area_width,
                          std::int64_t area_height) {
  const std::int64_t wide = ceil_div(layer_width, std::max<std::int64_t>(area_width, 1));
  const std::int64_t high = ceil_div(layer_height, std::max<std::int64_t>(area_height, 1));
  const std::int64_t blocks = std::clamp<std::int64_t>(std::max(wide, high), 1, 1 << 15);
  return {1, static_cast<int>(blocks)};
}

std::int64_t scaled_extent(std::int64_t layer_extent, PreviewScale scale) {
  return ceil_div(layer_extent, scale.layer_pixels) * scale.preview_pixels;
}

Rect layer_rect_under(const Rect& view, PreviewScale scale, std::int64_t layer_width, std::int64_t layer_height) {
  const auto first = [&](std::int64_t at) { return at / scale.preview_pixels * scale.layer_pixels; };
  const std::int64_t left = std::min(first(view.x), layer_width);
  const std::int64_t top = std::min(first(view.y), layer_height);
  const std::int64_t right = std::min(first(view.x + view.width - 1) + scale.layer_pixels, layer_width);
  const std::int64_t bottom = std::min(first(view.y + view.height - 1) + scale.layer_pixels, layer_height);
  return {left, top, std::max<std::int64_t>(right - left, 0), std::max<std::int64_t>(bottom - top, 0)};
}

std::vector<std::uint8_t> scale_display_pixels(std::span<const std::uint8_t> layer_pixels, const Rect& layer_rect,
                                               int channels, const Rect& view, PreviewScale scale) {
  std::vector<std::uint8_t> out(static_cast<std::size_t>(view.width * view.height * channels));
  const std::int64_t step = scale.layer_pixels;
  std::vector<std::uint32_t> sums(static_cast<std::size_t>(channels));
  for (std::int64_t row = 0; row < view.height; ++row) {
    const std::int64_t top = (view.y + row) / scale.preview_pixels * step - layer_rect.y;
    const std::int64_t bottom = std::min(top + step, layer_rect.height);
    for (std::int64_t column = 0; column < view.width; ++column) {
      const std::int64_t left = (view.x + column) / scale.preview_pixels * step - layer_rect.x;
      const std::int64_t right = std::min(left + step, layer_rect.width);
      std::fill(sums.begin(), sums.end(), 0u);
      for (std::int64_t y = top; y < bottom; ++y)
        for (std::int64_t x = left; x < right; ++x)
          for (int c = 0; c < channels; ++c) {
            const auto at = static_cast<std::size_t>((y * layer_rect.width + x) * channels + c);
            sums[static_cast<std::size_t>(c)] += layer_pixels[at];
          }
      const auto count = static_cast<std::uint32_t>(std::max<std::int64_t>((bottom - top) * (right - left), 1));
      std::uint8_t* target = &out[static_cast<std::size_t>((row * view.width + column) * channels)];
      for (int c = 0; c < channels; ++c)
        target[c] = static_cast<std::uint8_t>((sums[static_cast<std::size_t>(c)] + count / 2) / count);
    }
  }
  return out;
}

}  // namespace orvex
