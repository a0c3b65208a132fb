// The preview's zoom: whole layer pixels per preview pixel (zoomed out) or whole preview pixels per
// layer pixel (zoomed in), so that every preview pixel stands for a block of layer pixels.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/pixels.hpp"

namespace orvex {

struct PreviewScale {
  int preview_pixels = 1;  // per layer pixel; one of the two is 1
  int layer_pixels = 1;    // per preview pixel
  bool operator==(const PreviewScale&) const = default;
};

// The steps a user picks from, smallest first; 1:1 among them.
inline constexpr PreviewScale kZoomSteps[] = {{1, 8}, {1, 4}, {1, 2}, {1, 1}, {2, 1}, {4, 1}};

std::string zoom_name(PreviewScale scale);  // "1:4", "2:1"
std::optional<PreviewScale> parse_zoom_name(std::string_view name);

// The largest scale, 1:1 at most, at which the whole layer fits into the area.
PreviewScale fitted_scale(std::int64_t layer_width, std::int64_t layer_height, std::int64_t area_width,
                          std::int64_t area_height);

std::int64_t scaled_extent(std::int64_t layer_extent, PreviewScale scale);

// The layer pixels that the preview pixels of `view` (in scaled coordinates) stand for.
Rect layer_rect_under(const Rect& view, PreviewScale scale, std::int64_t layer_width, std::int64_t layer_height);

// The view's pixels from the 8-bit display pixels of layer_rect_under(view): each the mean of its
// block (the blocks at the layer's right and bottom edges may be smaller).
std::vector<std::uint8_t> scale_display_pixels(std::span<const std::uint8_t> layer_pixels, const Rect& layer_rect,
                                               int channels, const Rect& view, PreviewScale scale);

}  // namespace orvex
