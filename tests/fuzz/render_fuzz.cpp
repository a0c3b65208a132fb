// Fuzz target over the whole computation: raw settings bytes (NaN, infinities and any
// integers included), then a small layer of 1 to 4 channels in bytes, words or floats (any
// bit patterns), 0 to 64 pixels a side, with or without a selection mask.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/render.hpp"

namespace {

using namespace orvex;

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

struct Reader {
  const std::uint8_t* data;
  std::size_t size;
  std::uint8_t byte() {
    if (size == 0) return 0;
    --size;
    return *data++;
  }
  void fill(PixelBuffer& b) {
    for (std::byte& x : b.bytes) x = std::byte{byte()};
  }
};

void compare_methods(const ClampedSettings& s, const LayerInput& input, const PixelBuffer& whole) {
  const PixelLayout& l = input.pixels.layout;
  Accumulation planes[2];
  for (int m = 0; m < 2; ++m) {
    RayField field(s, collect_sources(s, source_input(s, input), 2), m ? StampMethod::convolution : StampMethod::direct);
    field.convolve(RenderOptions(1));
    planes[m] = field.accumulate({0, 0, l.width, l.height}, RenderOptions(2));
    // A view in the middle renders exactly the whole render's bytes there.
    const Rect view{l.width / 3, l.height / 4, l.width / 2, l.height / 2};
    PixelBuffer part(PixelLayout{view.width, view.height, l.channels, l.type});
    field.render(view, s->brightness, input.pixels, part.view(), RenderOptions(1));
    for (std::int64_t y = 0; y < view.height && m == 0 && view.width > 0; ++y)
      check(std::memcmp(part.bytes.data() + y * part.layout.row_bytes(),
                        whole.bytes.data() + (view.y + y) * l.row_bytes() + view.x * l.pixel_bytes(),
                        static_cast<std::size_t>(part.layout.row_bytes())) == 0, "a view is the crop of the whole");
  }
  for (std::size_t c = 0; c < planes[0].planes.size(); ++c)
    for (std::size_t i = 0; i < planes[0].planes[c].size(); ++i) {
      const double a = planes[0].planes[c][i], b = planes[1].planes[c][i];
      check(std::fabs(a - b) <= 1e-9 * std::max(1.0, std::fabs(a)), "convolution matches stamping");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < sizeof(FilterSettings) + 4) return 0;
  FilterSettings raw;
  std::memcpy(&raw, data, sizeof raw);
  Reader in{data + sizeof raw, size - sizeof raw};
  const int channels = 1 + in.byte() % 4;
  const std::int64_t width = in.byte() % 65, height = in.byte() % 65;
  const std::uint8_t flags = in.byte();
  const SampleType types[] = {SampleType::u8, SampleType::u16, SampleType::f32};
  PixelBuffer layer(PixelLayout{width, height, channels, types[(flags >> 1) % 3]});
  in.fill(layer);
  PixelBuffer mask(PixelLayout{width, height, 1});
  in.fill(mask);
  const ConstPixels mask_view = mask.view();
  const LayerInput input{layer.view(), (flags & 1) ? &mask_view : nullptr};
  const ClampedSettings settings(raw);

  PixelBuffer out(layer.layout);
  render_layer(settings, input, out.view(), RenderOptions(2));
  const std::int64_t sample = sample_bytes(layer.layout.type);
  for (std::int64_t i = 0; i < width * height * channels; ++i) {
    const bool alpha = i % channels >= colour_count(channels);
    const std::byte* a = layer.bytes.data() + i * sample;
    const std::byte* b = out.bytes.data() + i * sample;
    if (alpha) check(std::memcmp(a, b, static_cast<std::size_t>(sample)) == 0, "alpha is kept bit for bit");
    else if (layer.layout.type != SampleType::f32)
      check(unit_value(layer.layout.type, b) >= unit_value(layer.layout.type, a), "rays never darken");
  }
  if (width * height <= 24 * 24) compare_methods(settings, input, out);
  return 0;
}
