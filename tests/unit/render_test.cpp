#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <thread>

#include "engine/blend.hpp"
#include "engine/render.hpp"
#include "plain_render.hpp"
#include "test_images.hpp"

namespace orvex {
namespace {

using orvex_testing::noise_layer;
using orvex_testing::plain_accumulation;

ClampedSettings settings_with(std::int32_t threshold, std::int32_t line_type, double angle,
                              std::int32_t threshold_type = 0) {
  FilterSettings s = default_settings();
  s.threshold = threshold;
  s.line_type = line_type;
  s.angle = angle;
  s.threshold_type = threshold_type;
  s.s_density = 60;
  return ClampedSettings(s);
}

RayField field_of(const ClampedSettings& s, const LayerInput& input, StampMethod method, int threads) {
  RayField field(s, collect_sources(s, source_input(s, input), threads), method);
  field.convolve(RenderOptions(threads));
  return field;
}

PixelBuffer render_whole(const ClampedSettings& s, const LayerInput& input, int threads = 2,
                         StampMethod method = StampMethod::automatic) {
  PixelBuffer out(input.pixels.layout);
  RenderOptions options(threads);
  options.method = method;
  render_layer(s, input, out.view(), options);
  return out;
}

TEST(Render, MatchesPlainStampingForEveryDirectionMethodAndThreadCount) {
  std::mt19937 rng(1234);
  const PixelLayout shapes[] = {{23, 17, 3}, {9, 31, 1}, {16, 16, 4}, {1, 12, 2}, {12, 1, 3}, {1, 1, 1}};
  const double angles[] = {0, 30, 45, 46, 60, 90, 120, 135, 200, 300, 359};
  for (const PixelLayout& shape : shapes) {
    const PixelBuffer layer = noise_layer(rng, shape, 0.1);
    for (int line_type = 1; line_type <= 4; ++line_type)
      for (double angle : angles) {
        const ClampedSettings s = settings_with(200, line_type, angle, static_cast<int>(angle) % 3);
        const auto want = plain_accumulation(s, layer.view());
        for (const auto& [method, threads] : {std::pair{StampMethod::direct, 1},
                                              {StampMethod::direct, 2}, {StampMethod::convolution, 2}}) {
          const RayField field = field_of(s, {layer.view()}, method, threads);
          const Accumulation got = field.accumulate({0, 0, shape.width, shape.height}, RenderOptions(threads));
          for (int c = 0; c < field.colours(); ++c)
            for (std::size_t i = 0; i < want[c].size(); ++i) {
              const double g = got.planes[c][i], w = want[c][i];
              ASSERT_NEAR(g, w, 1e-9 * std::max(1.0, std::fabs(w)))
                  << shape.channels << "ch " << shape.width << "x" << shape.height << " line " << line_type
                  << " angle " << angle << " method " << static_cast<int>(method) << " at " << i;
              if (w == 0.0) {
                ASSERT_EQ(g, 0.0) << "nothing reached it: exactly nothing";
              }
            }
        }
      }
  }
}

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

TEST(Render, EveryViewIsExactlyTheCropOfTheWholeRender) {
  std::mt19937 rng(99);
  const PixelLayout layout{160, 120, 4};
  const PixelBuffer layer = noise_layer(rng, layout, 0.02);
  PixelBuffer mask = noise_layer(rng, {160, 120, 1}, 0.5);  // a ragged selection
  const ConstPixels mask_view = mask.view();
  const Rect views[] = {{0, 0, 40, 30},   {120, 0, 40, 30}, {0, 90, 40, 30}, {120, 90, 40, 30},
                        {50, 0, 60, 120}, {0, 40, 160, 1},  {70, 50, 20, 20}, {0, 0, 160, 120}};
  for (const StampMethod method : {StampMethod::direct, StampMethod::convolution})
    for (const ConstPixels* selection : {static_cast<const ConstPixels*>(nullptr), &mask_view}) {
      const ClampedSettings s = settings_with(180, 4, 30, 1);
      const LayerInput input{layer.view(), selection};
      const PixelBuffer whole = render_whole(s, input, 2, method);
      const RayField field = field_of(s, input, method, 2);
      for (const Rect& view : views) {
        PixelLayout l = layout;
        l.width = view.width;
        l.height = view.height;
        PixelBuffer part(l);
        field.render(view, s->brightness, layer.view(), part.view(), RenderOptions(1));
        ASSERT_EQ(part.bytes, crop(whole, view).bytes)
            << "view " << view.x << "," << view.y << " " << view.width << "x" << view.height;
        PixelBuffer blended(l);
        blend_view(field.accumulate(view, RenderOptions(2)), s->brightness, layer.view(), blended.view());
        ASSERT_EQ(blended.bytes, part.bytes);
      }
    }
}

TEST(Render, SparseSourcesAreStampedRayByRayDenseOnesThroughTheFft) {
  std::mt19937 rng(8);
  for (const double share : {0.002, 0.5}) {
    const PixelBuffer layer = noise_layer(rng, {400, 300, 3}, share);
    const ClampedSettings s = settings_with(128, 4, 10);
    const RayField field(s, collect_sources(s, {layer.view()}, 2), StampMethod::automatic);
    EXPECT_EQ(field.convolved_count(), share > 0.1 ? 3 : 0) << share;
  }
}

TEST(Render, WorkedBlendValues) {
  EXPECT_EQ(Sample<SampleType::u8>::from_unit(blend_value(50, 128 / 255.0, 0.3)), 166);
  EXPECT_EQ(Sample<SampleType::u8>::from_unit(blend_value(100, 128 / 255.0, 0.3)), 204);
  EXPECT_EQ(Sample<SampleType::u8>::from_unit(blend_value(25, 10 / 255.0, 2.0)), 255);
  EXPECT_EQ(blend_factor(50, -0.2), 0.0);  // the spectrum's dark rings never darken
}

// Every sample type: untouched samples come back bit for bit (floats outside 0..1, -0 and
// NaN included), alpha is never changed, and the rays agree with the 8-bit render.
TEST(Render, EveryPrecisionKeepsWhatNoRayReaches) {
  const float odd_floats[] = {-4.0f, -0.5f, -0.0f, NAN, 1e-30f, 0.25f};
  for (const SampleType type : {SampleType::u8, SampleType::u16, SampleType::f32, SampleType::f64}) {
    PixelBuffer layer(PixelLayout{40, 9, 4, type});
    for (std::int64_t i = 0; i < 40 * 9 * 4; ++i) {
      const double v = type == SampleType::u8 || type == SampleType::u16 ? (i % 7) / 9.0 : odd_floats[i % 6];
      with_sample_type(type, [&]<SampleType T>() {
        store_sample<T>(layer.bytes.data() + i * sample_bytes(T), Sample<T>::from_unit(v));
      });
    }
    // One white source at (20, 4); a horizontal ray only.
    for (int c = 0; c < 3; ++c)
      with_sample_type(type, [&]<SampleType T>() {
        store_sample<T>(layer.bytes.data() + ((4 * 40 + 20) * 4 + c) * sample_bytes(T), Sample<T>::from_unit(1.0));
      });
    FilterSettings raw = default_settings();
    raw.line_type = 1;
    raw.brightness = 100;  // twice what saturates the ray's start: the blend is held at full
    const PixelBuffer out = render_whole(ClampedSettings(raw), {layer.view()});
    const std::int64_t sample = sample_bytes(type);
    for (std::int64_t i = 0; i < 40 * 9 * 4; ++i) {
      const bool lit = i / (40 * 4) == 4 && i % 4 != 3;
      if (lit) continue;
      ASSERT_EQ(std::memcmp(out.bytes.data() + i * sample, layer.bytes.data() + i * sample,
                            static_cast<std::size_t>(sample)), 0) << static_cast<int>(type) << " sample " << i;
    }
    const double next = unit_value(type, out.bytes.data() + (4 * 40 + 21) * 4 * sample);
    EXPECT_EQ(next, 1.0) << "the ray's start is saturated, not beyond, in " << static_cast<int>(type);
  }
}

TEST(Render, SixteenBitsAreNotRenderedThroughEight) {
  std::mt19937 rng(5);
  const PixelBuffer bytes = noise_layer(rng, {64, 40, 3}, 0.02);
  PixelBuffer words(PixelLayout{64, 40, 3, SampleType::u16});
  for (std::size_t i = 0; i < bytes.bytes.size(); ++i)
    store_sample<SampleType::u16>(words.bytes.data() + 2 * i,
                                  static_cast<std::uint16_t>(257 * static_cast<int>(bytes.bytes[i])));
  const ClampedSettings s = settings_with(200, 2, 0);
  const PixelBuffer out8 = render_whole(s, {bytes.view()}), out16 = render_whole(s, {words.view()});
  int finer = 0;
  for (std::size_t i = 0; i < bytes.bytes.size(); ++i) {
    const int word = load_sample<SampleType::u16>(out16.bytes.data() + 2 * i);
    ASSERT_NEAR(word / 65535.0, static_cast<int>(out8.bytes[i]) / 255.0, 1 / 255.0 + 1e-9) << i;
    finer += word % 257 != 0;
  }
  EXPECT_GT(finer, 100) << "the rays must use the words' own precision";
}

TEST(Render, SelectionWeightsSourcesWhileRaysCrossUnselectedPixels) {
  PixelBuffer layer(PixelLayout{30, 3, 1});
  layer.bytes[1 * 30 + 10] = std::byte{255};
  PixelBuffer mask(PixelLayout{30, 3, 1});
  const ConstPixels mask_view = mask.view();
  FilterSettings raw = default_settings();
  raw.line_type = 1;
  raw.threshold = 100;  // a half-selected light still passes
  const ClampedSettings s(raw);
  const auto at = [](const PixelBuffer& b, int i) { return static_cast<int>(b.bytes[i]); };
  std::fill(mask.bytes.begin(), mask.bytes.end(), std::byte{255});
  const PixelBuffer selected = render_whole(s, {layer.view(), &mask_view});
  mask.bytes[1 * 30 + 10] = std::byte{0};
  EXPECT_EQ(render_whole(s, {layer.view(), &mask_view}).bytes, layer.bytes);
  std::fill(mask.bytes.begin(), mask.bytes.end(), std::byte{0});
  mask.bytes[1 * 30 + 10] = std::byte{128};
  const PixelBuffer partial = render_whole(s, {layer.view(), &mask_view});
  EXPECT_GT(at(partial, 1 * 30 + 20), 0);
  EXPECT_LT(at(partial, 1 * 30 + 20), at(selected, 1 * 30 + 20));
}

TEST(Render, HighlightsReplaceTheSourcesAboveTwoFiftyFour) {
  PixelBuffer layer(PixelLayout{20, 5, 3});
  layer.bytes[(2 * 20 + 15) * 3 + 1] = std::byte{255};  // green light in the layer itself
  PixelBuffer highlights(layer.layout);
  highlights.bytes[(2 * 20 + 3) * 3] = std::byte{255};  // red highlight at (3, 2)
  PixelBuffer mask(PixelLayout{20, 5, 1});              // nothing selected: plays no part
  const ConstPixels hv = highlights.view(), mv = mask.view();
  FilterSettings raw = default_settings();
  raw.threshold = 256;
  raw.line_type = 1;
  const PixelBuffer out = render_whole(ClampedSettings(raw), {layer.view(), &mv, &hv});
  EXPECT_GT(static_cast<int>(out.bytes[(2 * 20 + 10) * 3]), 0) << "the red highlight sends rays";
  EXPECT_EQ(static_cast<int>(out.bytes[(2 * 20 + 10) * 3 + 1]), 0) << "the layer's green light does not";
  raw.threshold = 511;  // above every level: nothing
  EXPECT_EQ(render_whole(ClampedSettings(raw), {layer.view(), &mv, &hv}).bytes, layer.bytes);
}

TEST(Render, WhiteIsASourceUnderEveryThresholdType) {
  PixelBuffer layer(PixelLayout{15, 1, 3});
  for (int c = 0; c < 3; ++c) layer.bytes[7 * 3 + c] = std::byte{255};
  for (int type = 0; type < 3; ++type) {
    const PixelBuffer out = render_whole(settings_with(255, 1, 0, type), {layer.view()});
    EXPECT_GT(static_cast<int>(out.bytes[9 * 3 + 2]), 0) << "threshold type " << type;
  }
}

TEST(Render, ProgressRisesToOneOnTheCallingThread) {
  std::mt19937 rng(3);
  const PixelBuffer layer = noise_layer(rng, {120, 1200, 3}, 0.3);
  for (const StampMethod method : {StampMethod::direct, StampMethod::convolution}) {
    std::vector<double> fractions;
    const auto caller = std::this_thread::get_id();
    RenderOptions options(2);
    options.method = method;
    options.progress = [&](double f) {
      EXPECT_EQ(std::this_thread::get_id(), caller);
      fractions.push_back(f);
    };
    PixelBuffer out(layer.layout);
    render_layer(settings_with(128, 4, 10), {layer.view()}, out.view(), options);
    ASSERT_GE(fractions.size(), 4u);
    EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
    EXPECT_GT(fractions.front(), 0.0);
    EXPECT_DOUBLE_EQ(fractions.back(), 1.0);
  }
}

TEST(Render, RefusesPixelsThatDoNotMatchTheirLayout) {
  std::vector<std::byte> small(10);
  const ConstPixels bad{{4, 4, 3}, small};
  PixelBuffer out(PixelLayout{4, 4, 3});
  EXPECT_THROW(render_layer(ClampedSettings(), {bad}, out.view(), RenderOptions(1)), std::invalid_argument);
  const ConstPixels five{{4, 4, 5}, small};
  EXPECT_THROW(render_layer(ClampedSettings(), {five}, out.view(), RenderOptions(1)), std::invalid_argument);
}

}  // namespace
}  // namespace orvex
