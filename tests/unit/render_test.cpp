// Whole-layer renders, views of them and the dialog's preview, against the plain oracle and each other.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <random>
#include <thread>
#include <tuple>

#include "engine/blend.hpp"
#include "engine/preview_renderer.hpp"
#include "engine/render.hpp"
#include "plain_render.hpp"

namespace orvex {
namespace {

// Sample i (counted across channels) set to a value where 1.0 is full intensity.
void put(PixelBuffer& b, std::int64_t i, double v) {
  with_sample_type(b.layout.type, [&]<SampleType T>() {
    store_sample<T>(b.bytes.data() + i * sample_bytes(T), Sample<T>::from_unit(v));
  });
}

// Dark noise with a share of full-intensity samples; alpha is noise too.
PixelBuffer noise_layer(std::mt19937& rng, const PixelLayout& layout, double bright_share) {
  PixelBuffer b(layout);
  std::uniform_real_distribution<double> u(0, 1);
  for (std::int64_t i = 0; i < layout.pixel_count() * layout.channels; ++i)
    put(b, i, u(rng) < bright_share ? 1.0 : u(rng) / 3);
  return b;
}

ClampedSettings edited(std::initializer_list<std::pair<const char*, double>> edits) {
  ClampedSettings s;
  for (const auto& [name, value] : edits) s = s.with(*find_setting(name), value);
  return s;
}

ClampedSettings rays(int threshold, int line_type, double angle, int threshold_type = 0) {
  return edited({{"threshold", threshold}, {"line_type", line_type}, {"angle", angle},
                 {"threshold_type", threshold_type}, {"s_density", 60}});
}

RayField field_of(const ClampedSettings& s, const LayerInput& input, StampMethod method, int threads) {
  RayField field(s, collect_sources(s, source_input(s, input), threads), method);
  field.convolve(RenderOptions(threads));
  return field;
}

PixelBuffer render_whole(const ClampedSettings& s, const LayerInput& input,
                         StampMethod method = StampMethod::automatic) {
  PixelBuffer out(input.pixels.layout);
  RenderOptions options(2);
  options.method = method;
  render_layer(s, input, out.view(), options);
  return out;
}

PixelBuffer crop(const PixelBuffer& whole, const Rect& view) {
  PixelBuffer out(PixelLayout{view.width, view.height, whole.layout.channels, whole.layout.type});
  for (std::int64_t y = 0; y < view.height; ++y)
    std::memcpy(out.bytes.data() + y * out.layout.row_bytes(),
                whole.bytes.data() + (view.y + y) * whole.layout.row_bytes() + view.x * out.layout.pixel_bytes(),
                static_cast<std::size_t>(out.layout.row_bytes()));
  return out;
}

TEST(Render, MatchesPlainStampingForEveryDirectionMethodAndThreadCount) {
  std::mt19937 rng(1234);
  const auto tolerance = [](double w) { return w == 0 ? 0 : 1e-9 * std::max(1.0, std::fabs(w)); };  // 0: nothing came
  // 75 x 70: upright rays summed in whole groups of pixels and the rest one by one; 1100 x 3:
  // rows stamped in two areas.
  const PixelLayout shapes[] = {{23, 17, 3}, {9, 31, 1}, {16, 16, 4}, {1, 12, 2},
                                {12, 1, 3},  {1, 1, 1},  {75, 70, 3}, {1100, 3, 3}};
  for (const PixelLayout& shape : shapes) {
    const PixelBuffer layer = noise_layer(rng, shape, 0.1);
    for (int line_type = 1; line_type <= 4; ++line_type)
      for (double angle : {0, 30, 45, 46, 60, 90, 120, 135, 200, 300, 359}) {
        const ClampedSettings s = rays(200, line_type, angle, static_cast<int>(angle) % 3);
        const auto want = orvex_testing::plain_accumulation(s, layer.view());
        for (const auto& [method, threads] : {std::pair{StampMethod::direct, 1},
                                              {StampMethod::direct, 2}, {StampMethod::convolution, 2}}) {
          const Accumulation got = field_of(s, {layer.view()}, method, threads)
                                       .accumulate({0, 0, shape.width, shape.height}, RenderOptions(threads));
          ASSERT_EQ(got.planes.size(), want.size());
          for (std::size_t c = 0; c < want.size(); ++c)
            for (std::size_t i = 0; i < want[c].size(); ++i)
              ASSERT_NEAR(got.planes[c][i], want[c][i], tolerance(want[c][i]))
                  << shape.channels << "ch " << shape.width << "x" << shape.height << " line " << line_type
                  << " angle " << angle << " method " << static_cast<int>(method) << " at " << i;
        }
      }
  }
}

TEST(Render, EveryViewIsExactlyTheCropOfTheWholeRender) {
  std::mt19937 rng(99);
  // Wide enough that a whole row is stamped in two areas: views across their seam.
  const PixelBuffer layer = noise_layer(rng, {1060, 60, 4}, 0.02);
  const PixelBuffer mask = noise_layer(rng, {1060, 60, 1}, 0.5);  // a ragged selection
  const ConstPixels mask_view = mask.view();
  const Rect views[] = {{0, 0, 40, 30},   {1020, 0, 40, 30}, {0, 30, 40, 30}, {1000, 20, 60, 40},
                        {50, 0, 60, 60},  {0, 40, 1060, 1},  {70, 50, 20, 10}, {0, 0, 1060, 60}};
  // Diagonal rays, and upright ones, which are stamped column by column.
  for (const ClampedSettings& s : {rays(180, 4, 30, 1), rays(180, 2, 0, 1)})
  for (const StampMethod method : {StampMethod::direct, StampMethod::convolution})
    for (const ConstPixels* selection : {static_cast<const ConstPixels*>(nullptr), &mask_view}) {
      const LayerInput input{layer.view(), selection};
      const PixelBuffer whole = render_whole(s, input, method);
      const RayField field = field_of(s, input, method, 2);
      for (const Rect& view : views) {
        const PixelBuffer want = crop(whole, view);
        PixelBuffer part(want.layout), blended(want.layout);
        field.render(view, s->brightness, layer.view(), part.view(), RenderOptions(1));
        ASSERT_EQ(part.bytes, want.bytes) << view.x << "," << view.y << " method " << static_cast<int>(method);
        blend_view(field.accumulate(view, RenderOptions(2)), s->brightness, layer.view(), blended.view());
        ASSERT_EQ(blended.bytes, part.bytes);
      }
    }
}

TEST(Render, SparseSourcesAreStampedRayByRayDenseOnesThroughTheFft) {
  std::mt19937 rng(8);
  for (const double share : {0.002, 0.5}) {
    const PixelBuffer layer = noise_layer(rng, {400, 300, 3}, share);
    const ClampedSettings s = rays(128, 4, 10);
    EXPECT_EQ(RayField(s, collect_sources(s, {layer.view()}, 2), StampMethod::automatic).convolved_count(),
              share > 0.1 ? 3 : 0) << share;
  }
}

TEST(Render, WorkedBlendValues) {
  EXPECT_EQ(Sample<SampleType::u8>::from_unit(blend_value(50, 128 / 255.0, 0.3)), 166);
  EXPECT_EQ(Sample<SampleType::u8>::from_unit(blend_value(100, 128 / 255.0, 0.3)), 204);
  EXPECT_EQ(Sample<SampleType::u8>::from_unit(blend_value(25, 10 / 255.0, 2.0)), 255);
  EXPECT_EQ(blend_factor(50, -0.2), 0.0);  // the spectrum's dark rings never darken
}

// The vector blend against the formula, sample by sample: rays below zero, zero, tiny and
// saturating, views whose rows are no multiple of the vector or chunk width, every layout; and
// blended in place, as a whole-layer render is, and one channel at a time, to the same samples.
TEST(Render, BlendedSamplesFollowTheFormula) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> u(0, 1);
  const double odd_rays[] = {-0.3, 0.0, 1e-300, 7e-4, 1.35, 5.0};
  const Rect view{7, 1, 254, 2};
  for (const SampleType type : {SampleType::u8, SampleType::u16, SampleType::f32, SampleType::f64})
    for (const int channels : {1, 3, 4}) {
      PixelBuffer base(PixelLayout{270, 4, channels, type}), out(PixelLayout{view.width, view.height, channels, type});
      for (std::int64_t i = 0; i < base.layout.pixel_count() * channels; ++i) put(base, i, u(rng) * 1.2 - 0.1);
      RayPlanes planes(colour_count(channels), LargeVector<double>(view.width * view.height));
      for (LargeVector<double>& plane : planes)
        for (double& r : plane) r = u(rng) < 0.5 ? odd_rays[rng() % 6] : u(rng) / 4;
      blend_area(37, planes, view, base.view(), out.view(), view);
      with_sample_type(type, [&]<SampleType T>() {
        for (std::int64_t p = 0; p < view.width * view.height; ++p)
          for (int c = 0; c < channels; ++c) {
            const std::int64_t at = ((view.y + p / view.width) * 270 + view.x + p % view.width) * channels + c;
            const auto was = load_sample<T>(base.bytes.data() + at * sample_bytes(T));
            auto want = was;
            if (c < colour_count(channels)) {
              const double ray = planes[static_cast<std::size_t>(c)][static_cast<std::size_t>(p)];
              const double v = blend_value(37, Sample<T>::unit(was), ray);
              const bool lit = blend_factor(37, ray) > 0 && Sample<T>::unit(was) <= 1;
              if (type == SampleType::u8 || type == SampleType::u16 || lit)
                want = Sample<T>::from_unit(v);
            }
            ASSERT_EQ(load_sample<T>(out.bytes.data() + (p * channels + c) * sample_bytes(T)), want)
                << static_cast<int>(type) << " " << channels << " pixel " << p << " channel " << c;
          }
      });
      PixelBuffer in_place = base;
      blend_area(37, planes, view, in_place.view(), in_place.view(), {0, 0, 270, 4});
      ASSERT_EQ(crop(in_place, view).bytes, out.bytes) << static_cast<int>(type) << " " << channels;
      // One channel at a time over whole rows (read 280 apart, as from a transform's rows), as dense
      // channels are blended after their FFT, against all channels at once.
      RayPlanes whole(colour_count(channels), LargeVector<double>(270 * 4));
      PixelBuffer at_once = base;
      PixelBuffer by_channel = base;
      for (std::size_t c = 0; c < whole.size(); ++c) {
        std::vector<double> strided(280 * 4, 9.0);
        for (std::int64_t p = 0; p < 270 * 4; ++p) {
          whole[c][static_cast<std::size_t>(p)] = u(rng) < 0.5 ? odd_rays[rng() % 6] : u(rng) / 4;
          strided[static_cast<std::size_t>(p / 270 * 280 + p % 270)] = whole[c][static_cast<std::size_t>(p)];
        }
        blend_channel(37, static_cast<int>(c), strided.data(), 280, 0, 4, by_channel.view());
      }
      blend_area(37, whole, {0, 0, 270, 4}, at_once.view(), at_once.view(), {0, 0, 270, 4});
      ASSERT_EQ(by_channel.bytes, at_once.bytes) << static_cast<int>(type) << " " << channels;
    }
}

// Every sample type: untouched samples come back bit for bit (floats outside 0..1, -0 and
// NaN included), alpha is never changed, and a ray's start saturates exactly.
TEST(Render, EveryPrecisionKeepsWhatNoRayReaches) {
  const float odd_floats[] = {-4.0f, -0.5f, -0.0f, NAN, 1e-30f, 0.25f};
  for (const SampleType type : {SampleType::u8, SampleType::u16, SampleType::f32, SampleType::f64}) {
    PixelBuffer layer(PixelLayout{40, 9, 4, type});
    for (std::int64_t i = 0; i < 40 * 9 * 4; ++i)
      put(layer, i, type == SampleType::u8 || type == SampleType::u16 ? (i % 7) / 9.0 : odd_floats[i % 6]);
    for (int c = 0; c < 3; ++c) put(layer, (4 * 40 + 20) * 4 + c, 1.0);  // one white source at (20, 4)
    // A horizontal ray only, at twice the brightness that saturates its start.
    const PixelBuffer out = render_whole(edited({{"line_type", 1}, {"brightness", 100}}), {layer.view()});
    const std::int64_t size = sample_bytes(type);
    for (std::int64_t i = 0; i < 40 * 9 * 4; ++i)
      if (i / (40 * 4) != 4 || i % 4 == 3) {  // all but the ray's row, and alpha even there
        ASSERT_EQ(std::memcmp(out.bytes.data() + i * size, layer.bytes.data() + i * size, size), 0)
            << static_cast<int>(type) << " sample " << i;
      }
    EXPECT_EQ(unit_value(type, out.bytes.data() + (4 * 40 + 21) * 4 * size), 1.0) << static_cast<int>(type);
  }
}

// Light only adds: under a full-strength ray, floats above 1.0 and infinities keep their value.
TEST(Render, RaysNeverDarkenHighOrInfiniteFloats) {
  const double extremes[] = {8.0, 2.0, 100.0, 1.0078125, INFINITY, -INFINITY};
  for (const SampleType type : {SampleType::f32, SampleType::f64}) {
    PixelBuffer layer(PixelLayout{6, 1, 3, type});
    for (int p = 0; p < 6; ++p)
      for (int c = 0; c < 3; ++c)
        put(layer, p * 3 + c, extremes[p]);
    const PixelBuffer out = render_whole(edited({{"line_type", 1}, {"brightness", 100}}), {layer.view()});
    for (int i = 0; i < 18; ++i)
      EXPECT_EQ(unit_value(type, out.bytes.data() + i * sample_bytes(type)), extremes[i / 3])
          << static_cast<int>(type) << " sample " << i;
  }
}

TEST(Render, SixteenBitsAreNotRenderedThroughEight) {
  std::mt19937 rng(5);
  const PixelBuffer bytes = noise_layer(rng, {64, 40, 3}, 0.02);
  PixelBuffer words(PixelLayout{64, 40, 3, SampleType::u16});
  for (std::size_t i = 0; i < bytes.bytes.size(); ++i) put(words, i, static_cast<int>(bytes.bytes[i]) / 255.0);
  const ClampedSettings s = rays(200, 2, 0);
  const PixelBuffer out8 = render_whole(s, {bytes.view()}), out16 = render_whole(s, {words.view()});
  int finer = 0;
  for (std::size_t i = 0; i < bytes.bytes.size(); ++i) {
    const int word = load_sample<SampleType::u16>(out16.bytes.data() + 2 * i);
    ASSERT_NEAR(word / 65535.0, static_cast<int>(out8.bytes[i]) / 255.0, 1 / 255.0 + 1e-9) << i;
    finer += word % 257 != 0;
  }
  EXPECT_GT(finer, 100) << "the rays must use the words' own precision";
}

// The selection weights sources while rays cross unselected pixels; highlights replace the sources
// above 254; white is a source under every threshold type.
TEST(Render, SourcesFollowTheSelectionTheHighlightsAndTheThresholdType) {
  PixelBuffer layer(PixelLayout{30, 3, 1}), mask(PixelLayout{30, 3, 1});
  layer.bytes[40] = std::byte{255};  // a light at (10, 1)
  const ConstPixels mv = mask.view();
  const auto selected = [&](std::uint8_t elsewhere, std::uint8_t at_light) {  // a half-selected light passes
    std::fill(mask.bytes.begin(), mask.bytes.end(), std::byte{elsewhere});
    mask.bytes[40] = std::byte{at_light};
    return render_whole(edited({{"line_type", 1}, {"threshold", 100}}), {layer.view(), &mv}).bytes;
  };
  EXPECT_EQ(selected(255, 0), layer.bytes);
  const int whole = static_cast<int>(selected(255, 255)[50]), partial = static_cast<int>(selected(0, 128)[50]);
  EXPECT_GT(partial, 0);
  EXPECT_LT(partial, whole);

  PixelBuffer rgb(PixelLayout{20, 5, 3}), highlights(rgb.layout), none(PixelLayout{20, 5, 1});
  rgb.bytes[(2 * 20 + 15) * 3 + 1] = std::byte{255};  // green light in the layer itself
  highlights.bytes[(2 * 20 + 3) * 3] = std::byte{255};  // red highlight at (3, 2)
  const ConstPixels hv = highlights.view(), nv = none.view();  // nothing selected: plays no part
  const PixelBuffer out = render_whole(edited({{"threshold", 256}, {"line_type", 1}}), {rgb.view(), &nv, &hv});
  EXPECT_GT(static_cast<int>(out.bytes[(2 * 20 + 10) * 3]), 0) << "the red highlight sends rays";
  EXPECT_EQ(static_cast<int>(out.bytes[(2 * 20 + 10) * 3 + 1]), 0) << "the layer's green light does not";
  EXPECT_EQ(render_whole(edited({{"threshold", 511}, {"line_type", 1}}), {rgb.view(), &nv, &hv}).bytes, rgb.bytes)
      << "above every level: nothing";

  PixelBuffer white(PixelLayout{15, 1, 3});
  for (int c = 0; c < 3; ++c) white.bytes[7 * 3 + c] = std::byte{255};
  for (int type = 0; type < 3; ++type)
    EXPECT_GT(static_cast<int>(render_whole(rays(255, 1, 0, type), {white.view()}).bytes[9 * 3 + 2]), 0) << type;
}

// A host reading its layer strip by strip gets the sources of the whole layer, whatever the
// strips; a failed read stops the collection and reaches the caller.
TEST(Render, SourcesCollectedWhileTheLayerIsReadAreThoseOfTheWholeLayer) {
  std::mt19937 rng(21);
  const PixelBuffer layer = noise_layer(rng, {50, 37, 4}, 0.05), mask = noise_layer(rng, {50, 37, 1}, 0.5);
  const ConstPixels mask_view = mask.view();
  const ClampedSettings s = rays(200, 2, 0);
  const std::int64_t row_bytes = layer.layout.row_bytes();
  for (const ConstPixels* selection : {static_cast<const ConstPixels*>(nullptr), &mask_view})
    for (const int threads : {1, 2})
      for (const std::int64_t strip : {1, 8, 37, 100}) {
        PixelBuffer filling(layer.layout);
        std::int64_t next = 0;
        const LayerSources got = collect_sources_while_filling(
            s, {filling.view(), selection}, threads, strip, [&](std::int64_t first, std::int64_t count) {
              ASSERT_EQ(first, next);
              std::this_thread::sleep_for(std::chrono::microseconds(300));  // a worker that does not wait reads zeros
              std::copy_n(layer.bytes.begin() + first * row_bytes, count * row_bytes, filling.bytes.begin() + first * row_bytes);
              next += count;
            });
        const LayerSources want = collect_sources(s, {layer.view(), selection}, 2);
        ASSERT_EQ(next, 37);
        for (int c = 0; c < 3; ++c)
          EXPECT_TRUE(got.by_row[c].row_start == want.by_row[c].row_start && got.by_row[c].position == want.by_row[c].position &&
                      got.by_row[c].value == want.by_row[c].value) << threads << " threads, strips of " << strip;
        const auto fail_third = [&](std::int64_t first, std::int64_t) {
          if (first == 16) throw std::runtime_error("unreadable");
        };
        EXPECT_THROW(collect_sources_while_filling(s, {layer.view(), selection}, threads, 8, fail_third), std::runtime_error);
      }
}

// Progress and finished rows come on the calling thread; a row reported is final.
TEST(Render, ProgressAndFinishedRowsComeOnTheCallingThread) {
  std::mt19937 rng(3);
  const PixelBuffer layer = noise_layer(rng, {120, 1200, 3}, 0.3);  // several blocks of steep rays
  for (const StampMethod method : {StampMethod::direct, StampMethod::convolution}) {
    std::vector<double> fractions;
    PixelBuffer out(layer.layout);
    PixelBuffer handed_over(layer.layout);
    std::vector<int> times_reported(1200);
    RenderOptions options(2);
    options.method = method;
    options.progress = [&, caller = std::this_thread::get_id()](double f) {
      EXPECT_EQ(std::this_thread::get_id(), caller);
      fractions.push_back(f);
    };
    options.rows_done = [&, caller = std::this_thread::get_id()](std::int64_t first, std::int64_t count) {
      EXPECT_EQ(std::this_thread::get_id(), caller);
      const std::int64_t row = layer.layout.row_bytes();
      std::copy_n(out.bytes.begin() + first * row, count * row, handed_over.bytes.begin() + first * row);
      for (std::int64_t y = first; y < first + count; ++y) ++times_reported[static_cast<std::size_t>(y)];
    };
    render_layer(rays(128, 4, 10), {layer.view()}, out.view(), options);
    ASSERT_GE(fractions.size(), 4u);
    EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));
    EXPECT_GT(fractions.front(), 0.0);
    EXPECT_DOUBLE_EQ(fractions.back(), 1.0);
    EXPECT_EQ(std::count(times_reported.begin(), times_reported.end(), 1), 1200);
    EXPECT_TRUE(handed_over.bytes == out.bytes);
  }
}

TEST(Render, RefusesPixelsThatDoNotMatchTheirLayout) {
  std::vector<std::byte> small(10);
  PixelBuffer out(PixelLayout{4, 4, 3});
  for (const int channels : {3, 5})
    EXPECT_THROW(render_layer(ClampedSettings(), {{{4, 4, channels}, small}}, out.view(), RenderOptions(1)),
                 std::invalid_argument) << channels;
}

// Each step changes one setting: the rays, the brightness only, the sources (highlights above 254;
// dense ones need the FFT, so a quick frame comes first and the exact one later).
TEST(Preview, ShowsExactlyWhatTheWholeRenderWritesInTheView) {
  std::mt19937 rng(11);
  const PixelBuffer layer = noise_layer(rng, {240, 160, 3}, 0.01);
  PixelBuffer highlights(layer.layout);
  highlights.bytes[(150 * 240 + 10) * 3] = std::byte{255};  // far outside the view
  const ConstPixels hv = highlights.view();
  int highlight_calls = 0;
  PreviewRenderer preview(PixelBuffer(layer), std::nullopt,
                          [&](const ClampedSettings&, const ConstPixels&) { ++highlight_calls; return highlights; }, 2);
  const Rect view{150, 20, 60, 50};
  const std::tuple<const char*, double, bool> steps[] = {  // setting, value, exact at once
      {"angle", 0, true},       {"angle", 30, true},     {"brightness", 90, true}, {"brightness", 90, true},
      {"threshold", 100, true}, {"threshold", 300, true}, {"brightness", 20, true}, {"threshold_type", 1, true},
      {"threshold", 40, false}, {"brightness", 80, true}, {"angle", 10, false}};
  ClampedSettings s = edited({{"line_type", 4}});
  for (const auto& [name, value, at_once] : steps) {
    s = s.with(*find_setting(name), value);
    PreviewRenderer::Frame frame = preview.render(s, view);
    EXPECT_EQ(frame.exact, at_once) << name << " " << value;
    for (int i = 0; i < 2000 && !frame.exact; ++i) {
      if (auto polled = preview.poll()) frame = std::move(*polled);
      else std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(frame.exact) << name;
    ASSERT_EQ(frame.pixels.bytes, crop(render_whole(s, {layer.view(), nullptr, &hv}), view).bytes) << name;
  }
  preview.render(s.with(*find_setting("angle"), 20), view);  // dense: work begins in the background...
  s = s.with(*find_setting("threshold"), 250);                // ...and a change to sparse sources drops it
  EXPECT_EQ(preview.render(s, view).pixels.bytes, crop(render_whole(s, {layer.view(), nullptr, &hv}), view).bytes);
  EXPECT_FALSE(preview.pending());
  EXPECT_EQ(highlight_calls, 2) << "highlights again only when threshold or type change";
}

}  // namespace
}  // namespace orvex
