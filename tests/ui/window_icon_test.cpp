#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "window_icon_stream.hpp"

namespace orvex {
namespace {

std::uint32_t be32(std::size_t offset) {
  const std::uint8_t* p = kWindowIconStream + offset;
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

struct Rgb {
  int r, g, b;
  int luma() const { return (299 * r + 587 * g + 114 * b) / 1000; }
};

class WindowIcon : public ::testing::Test {
 protected:
  void SetUp() override {
    GError* error = nullptr;
    // Decoded the way the dialog does it: length from the header, pixels not copied.
    icon_ = gdk_pixbuf_new_from_inline(-1, kWindowIconStream, FALSE, &error);
    ASSERT_NE(icon_, nullptr) << (error ? error->message : "");
  }
  void TearDown() override {
    if (icon_) g_object_unref(icon_);
  }
  Rgb at(int x, int y) const {
    const guchar* p = gdk_pixbuf_get_pixels(icon_) + y * gdk_pixbuf_get_rowstride(icon_) +
                      x * gdk_pixbuf_get_n_channels(icon_);
    return {p[0], p[1], p[2]};
  }
  GdkPixbuf* icon_ = nullptr;
};

TEST(WindowIconStream, HeaderDescribesA16x16RunLengthEncodedRgbImage) {
  EXPECT_EQ(sizeof(kWindowIconStream), 278u);
  EXPECT_EQ(be32(0), 0x47646b50u);  // "GdkP"
  EXPECT_EQ(be32(4), 278u);
  EXPECT_EQ(be32(8), 0x02010001u);
  EXPECT_EQ(be32(12), 48u);
  EXPECT_EQ(be32(16), 16u);
  EXPECT_EQ(be32(20), 16u);
}

TEST_F(WindowIcon, DecodesToAnOpaque16x16RgbPixbuf) {
  EXPECT_EQ(gdk_pixbuf_get_width(icon_), 16);
  EXPECT_EQ(gdk_pixbuf_get_height(icon_), 16);
  EXPECT_EQ(gdk_pixbuf_get_n_channels(icon_), 3);
  EXPECT_FALSE(gdk_pixbuf_get_has_alpha(icon_));
  EXPECT_EQ(gdk_pixbuf_get_bits_per_sample(icon_), 8);
}

TEST_F(WindowIcon, ShowsABrightStarOnADarkSky) {
  const Rgb core = at(7, 7);
  EXPECT_EQ(core.r, 255);
  EXPECT_EQ(core.g, 255);
  EXPECT_EQ(core.b, 255);
  for (const auto& [x, y] : std::array<std::pair<int, int>, 4>{{{0, 15}, {15, 15}, {0, 0}, {15, 0}}})
    EXPECT_LT(at(x, y).luma(), 40) << "corner " << x << "," << y;
  // Rays run out from the core in all four directions and fade on the way.
  for (const auto& [dx, dy] : std::array<std::pair<int, int>, 4>{{{1, 0}, {-1, 0}, {0, 1}, {0, -1}}}) {
    const Rgb near = at(7 + dx, 7 + dy);
    const Rgb far = at(7 + 6 * dx, 7 + 6 * dy);
    EXPECT_GT(near.luma(), 200);
    EXPECT_GT(far.luma(), 60);
    EXPECT_LT(far.luma(), near.luma());
  }
}

TEST(WindowIconStream, DecoderRejectsTheStreamCutShort) {
  // Guards the check above: a stream whose pixel data ends early must not decode.
  std::array<std::uint8_t, 278> cut{};
  std::copy(kWindowIconStream, kWindowIconStream + 278, cut.begin());
  const std::uint32_t shorter = 278 - 100;
  cut[4] = 0;
  cut[5] = 0;
  cut[6] = static_cast<std::uint8_t>(shorter >> 8);
  cut[7] = static_cast<std::uint8_t>(shorter);
  GdkPixbuf* icon = gdk_pixbuf_new_from_inline(-1, cut.data(), TRUE, nullptr);
  EXPECT_EQ(icon, nullptr);
  if (icon) g_object_unref(icon);
}

}  // namespace
}  // namespace orvex
