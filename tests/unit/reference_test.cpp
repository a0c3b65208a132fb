// The engine against a render written from the formulas alone (tests/support/reference_render), byte
// for byte on 8-bit layers, over the settings that change the formulas; the reference itself is held
// to the worked values the filter is known by.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <sstream>
#include <string>

#include "engine/render.hpp"
#include "reference_render.hpp"

namespace {

using orvex_reference::Settings;

// Dark noise with a share of bright pixels, whose channels differ, so that each threshold type
// finds other sources.
orvex_reference::Image noise(std::mt19937& rng, int width, int height, int channels, double bright_share) {
  orvex_reference::Image image{width, height, channels, {}};
  std::uniform_int_distribution<int> dark(0, 120);
  std::uniform_int_distribution<int> bright(140, 255);
  std::uniform_real_distribution<double> u(0, 1);
  for (int i = 0; i < width * height; ++i) {
    const bool light = u(rng) < bright_share;
    for (int c = 0; c < channels; ++c) image.bytes.push_back(static_cast<std::uint8_t>(light ? bright(rng) : dark(rng)));
  }
  return image;
}

std::vector<std::uint8_t> engine_render(const Settings& s, const orvex_reference::Image& image,
                                        orvex::StampMethod method) {
  orvex::FilterSettings raw = orvex::default_settings();
  raw.brightness = s.brightness;
  raw.threshold = s.threshold;
  raw.threshold_type = s.threshold_type;
  raw.angle = s.angle;
  raw.line_type = s.line_type;
  raw.h0_density = s.h0_density;
  raw.h0_extent = s.h0_extent;
  raw.h1_density = s.h1_density;
  raw.h1_extent = s.h1_extent;
  raw.s_density = s.s_density;
  raw.s_extent = s.s_extent;
  raw.s_amp = s.s_amp;
  raw.s_dephasing = s.s_dephasing;
  orvex::PixelBuffer layer(orvex::PixelLayout{image.width, image.height, image.channels});
  std::memcpy(layer.bytes.data(), image.bytes.data(), image.bytes.size());
  orvex::PixelBuffer out(layer.layout);
  orvex::RenderOptions options(2);
  options.method = method;
  orvex::render_layer(orvex::ClampedSettings(raw), {layer.view()}, out.view(), options);
  std::vector<std::uint8_t> bytes(out.bytes.size());
  std::memcpy(bytes.data(), out.bytes.data(), bytes.size());
  return bytes;
}

std::string describe(const Settings& s, int channels) {
  std::ostringstream text;
  text << channels << " channels, line " << s.line_type << " angle " << s.angle << " threshold " << s.threshold
       << " type " << s.threshold_type << " h1 " << s.h1_density << " spectrum " << s.s_density << "/" << s.s_amp
       << "/" << s.s_dephasing;
  return text.str();
}

// The intensities and paths the filter is known by, worked by hand from its formulas.
TEST(Reference, HoldsTheWorkedValues) {
  const Settings defaults;
  EXPECT_EQ(orvex_reference::ray_intensity(defaults, 0, 1), 1.0);
  EXPECT_NEAR(orvex_reference::ray_intensity(defaults, 1, 1), 0.499, 5e-4);
  EXPECT_NEAR(orvex_reference::ray_intensity(defaults, 2, 1), 0.494, 5e-4);
  EXPECT_NEAR(orvex_reference::ray_intensity(defaults, 10, 1.0), 0.379, 5e-4);
  EXPECT_NEAR(orvex_reference::ray_intensity(defaults, 10, 1.2), 0.381, 5e-4);
  EXPECT_NEAR(orvex_reference::ray_intensity(defaults, 10, 1.4), 0.383, 5e-4);
  EXPECT_NEAR(orvex_reference::ray_intensity(defaults, 100, 1.0), -0.050, 5e-4);
  const std::vector<double> flat(40, 1.0);
  const auto offsets = [&](double angle) {
    std::ostringstream text;
    for (const auto& p : orvex_reference::ray_path(10, 6, angle, flat)) text << "(" << p.dx << "," << p.dy << ")";
    return text.str();
  };
  EXPECT_EQ(offsets(30), "(0,0)(1,1)(2,1)(3,2)(4,2)(5,3)(6,3)(7,4)(8,5)(9,5)");
  EXPECT_EQ(offsets(60), "(0,0)(1,1)(1,2)(2,3)(2,4)(3,5)");
  EXPECT_EQ(offsets(120), "(0,0)(-1,1)(-1,2)(-2,3)(-2,4)(-3,5)");
  EXPECT_EQ(offsets(135), "(0,0)(1,-1)(2,-2)(3,-3)(4,-4)(5,-5)");
  EXPECT_EQ(offsets(494), "(0,0)(-1,1)(-2,2)(-3,3)(-4,4)(-5,5)");
  EXPECT_EQ(offsets(270), "(0,0)(0,1)(0,2)(0,3)(0,4)(0,5)");
}

// Every line type at angles on and off the grid's axes and diagonals, both highlights, the spectrum
// with several amplitudes and dephasings, every threshold type, gray and RGB with and without alpha.
TEST(Reference, TheEngineWritesTheReferencesBytes) {
  std::mt19937 rng(30);
  Settings spectra[4];
  spectra[1].h1_density = 60;
  spectra[1].h1_extent = 20;
  spectra[2].s_density = 90;
  spectra[2].s_amp = 7;
  spectra[2].s_dephasing = 85;
  spectra[3].s_density = 0;
  spectra[3].h0_density = 40;
  spectra[3].h0_extent = 3;
  spectra[3].brightness = 100;
  int compared = 0;
  for (const int channels : {1, 2, 3, 4}) {
    const orvex_reference::Image image = noise(rng, 41, 29, channels, 0.06);
    for (int line_type = 1; line_type <= 4; ++line_type)
      for (const double angle : {0.0, 17.0, 45.0, 46.0, 90.0, 133.0, 200.0, 359.0}) {
        Settings s = spectra[compared % 4];
        s.line_type = line_type;
        s.angle = angle;
        s.threshold = 180 + compared % 3 * 25;
        s.threshold_type = compared % 3;
        const orvex_reference::Image want = orvex_reference::render(s, image);
        ASSERT_EQ(engine_render(s, image, orvex::StampMethod::direct), want.bytes) << describe(s, channels);
        ++compared;
      }
  }
  EXPECT_EQ(compared, 128);
}

// Many sources take the Fourier path; its bytes are the reference's as well.
TEST(Reference, DenseSourcesThroughTheFftWriteTheReferencesBytes) {
  std::mt19937 rng(31);
  const orvex_reference::Image image = noise(rng, 48, 36, 3, 0.5);
  for (const int line_type : {1, 3, 4}) {
    Settings s;
    s.line_type = line_type;
    s.angle = 31;
    s.threshold = 128;
    s.s_dephasing = 50;
    EXPECT_EQ(engine_render(s, image, orvex::StampMethod::convolution), orvex_reference::render(s, image).bytes)
        << describe(s, 3);
  }
}

}  // namespace
