#include "engine/preview_renderer.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <random>
#include <thread>

#include "engine/render.hpp"
#include "test_images.hpp"

namespace orvex {
namespace {

PixelBuffer crop(const PixelBuffer& whole, const Rect& view) {
  PixelLayout l = whole.layout;
  l.width = view.width;
  l.height = view.height;
  PixelBuffer out(l);
  for (std::int64_t y = 0; y < view.height; ++y)
    std::memcpy(out.bytes.data() + y * l.row_bytes(),
                whole.bytes.data() + (view.y + y) * whole.layout.row_bytes() + view.x * l.pixel_bytes(),
                static_cast<std::size_t>(l.row_bytes()));
  return out;
}

struct Scene {
  PixelBuffer layer;
  PixelBuffer highlights;
  int highlight_calls = 0;

  PixelBuffer whole(const ClampedSettings& s) const {
    PixelBuffer out(layer.layout);
    const ConstPixels hv = highlights.view();
    render_layer(s, {layer.view(), nullptr, &hv}, out.view(), RenderOptions(2));
    return out;
  }
};

PreviewRenderer::Frame exact_frame(PreviewRenderer& preview, PreviewRenderer::Frame frame) {
  for (int i = 0; i < 2000 && !frame.exact; ++i) {
    if (auto polled = preview.poll()) return std::move(*polled);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return frame;
}

TEST(Preview, ShowsExactlyWhatTheWholeRenderWritesInTheView) {
  std::mt19937 rng(11);
  Scene scene{orvex_testing::noise_layer(rng, {240, 160, 3}, 0.01), PixelBuffer(PixelLayout{240, 160, 3})};
  scene.highlights.bytes[(150 * 240 + 10) * 3] = std::byte{255};  // far outside the view
  PreviewRenderer preview(PixelBuffer(scene.layer), std::nullopt,
                          [&](const ClampedSettings&, const ConstPixels&) { ++scene.highlight_calls; return PixelBuffer(scene.highlights); }, 2);
  const Rect view{150, 20, 60, 50};
  FilterSettings raw = default_settings();
  raw.line_type = 4;
  // Each step changes one setting: rays, then brightness only, then the view, then sources.
  const std::vector<std::pair<const char*, double>> steps = {
      {"angle", 0}, {"angle", 30}, {"brightness", 90}, {"brightness", 90}, {"threshold", 100},
      {"threshold", 300}, {"brightness", 20}, {"threshold_type", 1}};
  ClampedSettings s(raw);
  for (const auto& [name, value] : steps) {
    s = s.with(*find_setting(name), value);
    const PreviewRenderer::Frame first = preview.render(s, view);
    EXPECT_TRUE(first.exact || s->threshold < 128) << "sparse sources render exactly at once: " << name;
    const PreviewRenderer::Frame frame = exact_frame(preview, first);
    ASSERT_TRUE(frame.exact) << name;
    ASSERT_EQ(frame.pixels.bytes, crop(scene.whole(s), view).bytes) << name << " " << value;
  }
  EXPECT_EQ(scene.highlight_calls, 2) << "highlights again only when threshold or type change";
}

TEST(Preview, DenseSourcesShowAQuickFrameFirstThenTheExactOne) {
  std::mt19937 rng(12);
  Scene scene{orvex_testing::noise_layer(rng, {300, 200, 1}, 0.5), {}};
  PreviewRenderer preview(PixelBuffer(scene.layer), std::nullopt, {}, 2);
  FilterSettings raw = default_settings();
  raw.threshold = 100;  // half the pixels are sources: the layer needs its FFT
  const ClampedSettings s(raw);
  const Rect view{100, 60, 80, 70};
  const PreviewRenderer::Frame first = preview.render(s, view);
  EXPECT_FALSE(first.exact);
  const PreviewRenderer::Frame exact = exact_frame(preview, first);
  ASSERT_TRUE(exact.exact);
  EXPECT_EQ(exact.pixels.bytes, crop(scene.whole(s), view).bytes);
  // Brightness alone now blends again at once.
  const ClampedSettings brighter = s.with(*find_setting("brightness"), 80);
  const PreviewRenderer::Frame again = preview.render(brighter, view);
  EXPECT_TRUE(again.exact);
  EXPECT_EQ(again.pixels.bytes, crop(scene.whole(brighter), view).bytes);
}

}  // namespace
}  // namespace orvex
