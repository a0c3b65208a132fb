// Fuzz target over the whole computation: raw settings bytes (NaN, infinities and any
// integers included), then a small layer of 1 to 4 channels in bytes, words or floats (any
// bit patterns), 0 to 64 pixels a side, with or without a selection mask.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/render.hpp"

using namespace orvex;

static void check(bool ok, const char* what) {
  if (!ok) std::fprintf(stderr, "fuzz check failed: %s\n", what), std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < sizeof(FilterSettings) + 4) return 0;
  FilterSettings raw;
  std::memcpy(&raw, data, sizeof raw);
  std::size_t at = sizeof raw;
  const auto next = [&]() -> std::uint8_t { return at < size ? data[at++] : 0; };
  const int channels = 1 + next() % 4;
  const std::int64_t width = next() % 65, height = next() % 65;
  const std::uint8_t flags = next();
  const SampleType type = std::array{SampleType::u8, SampleType::u16, SampleType::f32}[(flags >> 1) % 3];
  PixelBuffer layer(PixelLayout{width, height, channels, type}), mask(PixelLayout{width, height, 1});
  for (PixelBuffer* buffer : {&layer, &mask})
    for (std::byte& b : buffer->bytes) b = std::byte{next()};
  const ConstPixels mask_view = mask.view();
  const LayerInput input{layer.view(), (flags & 1) ? &mask_view : nullptr};
  const ClampedSettings s(raw);

  PixelBuffer out(layer.layout);
  render_layer(s, input, out.view(), RenderOptions(2));
  const std::int64_t sample = sample_bytes(type);
  for (std::int64_t i = 0; i < width * height * channels; ++i) {
    const std::byte *a = layer.bytes.data() + i * sample, *b = out.bytes.data() + i * sample;
    if (i % channels >= colour_count(channels))
      check(std::memcmp(a, b, static_cast<std::size_t>(sample)) == 0, "alpha is kept bit for bit");
    else if (type != SampleType::f32)
      check(unit_value(type, b) >= unit_value(type, a), "rays never darken");
  }
  if (width * height > 24 * 24) return 0;
  // Both stamping methods give the same rays; with either, a view in the middle is the whole
  // render's bytes there.
  Accumulation planes[2];
  const Rect view{width / 3, height / 4, width / 2, height / 2};
  for (int m = 0; m < 2; ++m) {
    const StampMethod method = m ? StampMethod::convolution : StampMethod::direct;
    RayField field(s, collect_sources(s, source_input(s, input), 2), method);
    field.convolve(RenderOptions(1));
    planes[m] = field.accumulate({0, 0, width, height}, RenderOptions(2));
    PixelBuffer whole(layer.layout), part(PixelLayout{view.width, view.height, channels, type});
    field.render({0, 0, width, height}, s->brightness, input.pixels, whole.view(), RenderOptions(2));
    field.render(view, s->brightness, input.pixels, part.view(), RenderOptions(1));
    for (std::int64_t y = 0; y < view.height && view.width > 0; ++y)
      check(std::memcmp(part.bytes.data() + y * part.layout.row_bytes(),
                        whole.bytes.data() + (view.y + y) * layer.layout.row_bytes() + view.x * (sample * channels),
                        static_cast<std::size_t>(part.layout.row_bytes())) == 0, "a view is the crop of the whole");
  }
  for (std::size_t c = 0; c < planes[0].planes.size(); ++c)
    for (std::size_t i = 0; i < planes[0].planes[c].size(); ++i) {
      const double a = planes[0].planes[c][i], b = planes[1].planes[c][i];
      check(std::fabs(a - b) <= 1e-9 * std::max(1.0, std::fabs(a)), "convolution matches stamping");
    }
  return 0;
}
