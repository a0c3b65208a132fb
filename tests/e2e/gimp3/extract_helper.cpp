// Test-only: GIMP 3's Python batches cannot call the engine. Reads a layer's samples (GIMP's own format)
// from standard input and writes the engine's highlights of them to standard output.
//   orvex-extract-helper WIDTH HEIGHT CHANNELS u8|u16|float linear|srgb THRESHOLD THRESHOLD-TYPE
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/highlight_extraction.hpp"

int main(int argc, char** argv) {
  if (argc != 8) return 2;
  const std::string type = argv[4];
  const orvex::PixelLayout layout{std::stoll(argv[1]), std::stoll(argv[2]), std::stoi(argv[3]),
                                  type == "u8" ? orvex::SampleType::u8
                                  : type == "u16" ? orvex::SampleType::u16 : orvex::SampleType::f32};
  orvex::FilterSettings settings = orvex::default_settings();
  settings.threshold = std::stoi(argv[6]);
  settings.threshold_type = std::stoi(argv[7]);
  const std::vector<char> samples{std::istreambuf_iterator<char>(std::cin), {}};
  const orvex::LayerEncoding encoding{std::string(argv[5]) == "linear" ? orvex::SampleCurve::linear
                                                                      : orvex::SampleCurve::srgb,
                                      orvex::GimpRounding::gimp3};
  const orvex::PixelBuffer highlights = orvex::extract_highlights(
      orvex::ClampedSettings(settings), {layout, std::as_bytes(std::span(samples))}, encoding, 2);
  const auto size = static_cast<std::streamsize>(highlights.bytes.size());
  std::cout.write(reinterpret_cast<const char*>(highlights.bytes.data()), size);
  return std::cout ? 0 : 1;
}
