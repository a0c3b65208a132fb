// PNG files as interleaved pixels with their raw sample values: 8 or 16 bits, no gamma or
// colour conversion either way, gray kept as 1 or 2 channels.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/pixels.hpp"

namespace orvex_tools {

struct TextChunk {
  int compression = 0;  // libpng's tEXt / zTXt / iTXt code
  std::string key, text, language, translated_key;
};

// A chunk as the file holds it: its type and its data.
struct RawChunk {
  std::string type;
  std::vector<std::uint8_t> data;
};

// The chunks worth keeping: since the values stay raw, the colour description still holds,
// and resolution, text and Exif are the photographer's.
struct Metadata {
  std::vector<RawChunk> colour;  // gAMA, cHRM, sRGB and iCCP as the input has them, in its order
  std::optional<std::array<std::uint32_t, 2>> resolution;  // pHYs, per resolution_unit
  int resolution_unit = 0;
  std::vector<TextChunk> texts;
  std::vector<std::uint8_t> exif;
};

struct Image {
  orvex::PixelLayout layout;  // u8 or u16 samples, 16-bit ones in host byte order
  std::unique_ptr<std::byte[]> bytes;
  Metadata metadata;

  orvex::MutablePixels pixels() const {
    return {layout, {bytes.get(), static_cast<std::size_t>(layout.byte_count())}};
  }
};

// Throws std::runtime_error with a readable message, also when the decoded pixels would
// need more than `memory_limit` bytes (checked before they are allocated).
Image load_png(const std::string& path, std::uint64_t memory_limit);

// Writes `image` as a non-interlaced PNG to `file`; `name` is for messages.
void write_png(std::FILE* file, const Image& image, const std::string& name);

}  // namespace orvex_tools
