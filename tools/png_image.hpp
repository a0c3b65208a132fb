// PNG files as interleaved 8-bit pixels that keep gray and gray+alpha as 1 and 2 channels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvex_tools {

struct Image {
  std::int64_t width = 0;
  std::int64_t height = 0;
  int channels = 0;  // 1 gray, 2 gray+alpha, 3 RGB, 4 RGBA
  std::vector<std::uint8_t> pixels;
};

// Throws std::runtime_error with a readable message on failure.
Image load_png(const std::string& path);
void save_png(const std::string& path, const Image& image);

}  // namespace orvex_tools
