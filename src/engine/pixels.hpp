// Interleaved pixels in the precision a host hands over: bytes, 16-bit words, floats or doubles.
//
// The renderer works on values where 1.0 is full intensity: a byte b is b / 255, a word w is
// w / 65535, floats are taken as they are (also outside 0..1).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "engine/large_allocator.hpp"

namespace orvex {

enum class SampleType : std::uint8_t { u8, u16, f32, f64 };

constexpr int sample_bytes(SampleType type) {
  switch (type) {
    case SampleType::u8: return 1;
    case SampleType::u16: return 2;
    case SampleType::f32: return 4;
    case SampleType::f64: return 8;
  }
  return 1;
}

struct PixelLayout {
  std::int64_t width = 0;
  std::int64_t height = 0;
  int channels = 0;  // 1 gray, 2 gray + alpha, 3 RGB, 4 RGBA
  SampleType type = SampleType::u8;

  std::int64_t pixel_count() const { return width * height; }
  std::int64_t pixel_bytes() const { return std::int64_t{channels} * sample_bytes(type); }
  std::int64_t row_bytes() const { return width * pixel_bytes(); }
  std::int64_t byte_count() const { return height * row_bytes(); }
  bool operator==(const PixelLayout&) const = default;
};

struct ConstPixels {
  PixelLayout layout;
  std::span<const std::byte> bytes;
};

struct MutablePixels {
  PixelLayout layout;
  std::span<std::byte> bytes;
  operator ConstPixels() const { return {layout, bytes}; }
};

struct Rect {
  std::int64_t x = 0;
  std::int64_t y = 0;
  std::int64_t width = 0;
  std::int64_t height = 0;
  bool operator==(const Rect&) const = default;
};

// Pixels with their own storage.
struct PixelBuffer {
  PixelLayout layout;
  LargeVector<std::byte> bytes;

  PixelBuffer() = default;
  explicit PixelBuffer(const PixelLayout& l)
      : layout(l), bytes(static_cast<std::size_t>(l.byte_count())) {}
  MutablePixels view() { return {layout, bytes}; }
  ConstPixels view() const { return {layout, bytes}; }
};

// The channels that receive rays: all but a trailing alpha channel.
constexpr int colour_count(int channels) {
  return (channels == 2 || channels == 4) ? channels - 1 : channels;
}

// Throws std::invalid_argument unless the layout is sane and the bytes cover it exactly.
void check_pixels(const ConstPixels& pixels);

template <SampleType T>
struct Sample;

template <>
struct Sample<SampleType::u8> {
  using type = std::uint8_t;
  static double unit(type v) { return v / 255.0; }
  // Truncated toward zero: a byte that nothing touched comes back unchanged.
  static type from_unit(double v) {
    double s = v * 255;
    if (!(s > 0)) return 0;
    return s >= 255 ? 255 : static_cast<type>(s);
  }
};

template <>
struct Sample<SampleType::u16> {
  using type = std::uint16_t;
  static double unit(type v) { return v / 65535.0; }
  static type from_unit(double v) {
    double s = v * 65535 + 0.5;
    if (!(s > 0)) return 0;
    return s >= 65535 ? 65535 : static_cast<type>(s);
  }
};

template <>
struct Sample<SampleType::f32> {
  using type = float;
  static double unit(type v) { return v; }
  static type from_unit(double v) { return static_cast<type>(v); }
};

template <>
struct Sample<SampleType::f64> {
  using type = double;
  static double unit(type v) { return v; }
  static type from_unit(double v) { return v; }
};

template <SampleType T>
typename Sample<T>::type load_sample(const std::byte* at) {
  typename Sample<T>::type v;
  std::memcpy(&v, at, sizeof v);
  return v;
}

template <SampleType T>
void store_sample(std::byte* at, typename Sample<T>::type v) {
  std::memcpy(at, &v, sizeof v);
}

// Calls f.template operator()<T>() with the sample type as a template argument.
template <typename F>
decltype(auto) with_sample_type(SampleType type, F&& f) {
  switch (type) {
    case SampleType::u16: return f.template operator()<SampleType::u16>();
    case SampleType::f32: return f.template operator()<SampleType::f32>();
    case SampleType::f64: return f.template operator()<SampleType::f64>();
    case SampleType::u8: break;
  }
  return f.template operator()<SampleType::u8>();
}

// A sample as a value where 1.0 is full intensity.
double unit_value(SampleType type, const std::byte* at);

}  // namespace orvex
