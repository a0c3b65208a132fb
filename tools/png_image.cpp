#include "png_image.hpp"

#include <png.h>

#include <stdexcept>

namespace orvex_tools {

namespace {

png_uint_32 format_for(int channels) {
  switch (channels) {
    case 1: return PNG_FORMAT_GRAY;
    case 2: return PNG_FORMAT_GA;
    case 3: return PNG_FORMAT_RGB;
    case 4: return PNG_FORMAT_RGBA;
    default: throw std::runtime_error("unsupported channel count");
  }
}

}  // namespace

Image load_png(const std::string& path) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str()))
    throw std::runtime_error("cannot read PNG '" + path + "': " + png.message);
  Image image;
  const bool colour = (png.format & PNG_FORMAT_FLAG_COLOR) != 0;
  const bool alpha = (png.format & PNG_FORMAT_FLAG_ALPHA) != 0;
  image.channels = (colour ? 3 : 1) + (alpha ? 1 : 0);
  png.format = format_for(image.channels);
  image.width = png.width;
  image.height = png.height;
  image.pixels.resize(PNG_IMAGE_SIZE(png));
  if (!png_image_finish_read(&png, nullptr, image.pixels.data(), 0, nullptr)) {
    const std::string message = png.message;
    png_image_free(&png);
    throw std::runtime_error("cannot decode PNG '" + path + "': " + message);
  }
  return image;
}

void save_png(const std::string& path, const Image& image) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(image.width);
  png.height = static_cast<png_uint_32>(image.height);
  png.format = format_for(image.channels);
  if (!png_image_write_to_file(&png, path.c_str(), 0, image.pixels.data(), 0, nullptr))
    throw std::runtime_error("cannot write PNG '" + path + "': " + png.message);
}

}  // namespace orvex_tools
