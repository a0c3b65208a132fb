#include "engine/babl_arithmetic.hpp"

#include <bit>
#include <cmath>
#include <numbers>

// Every expression keeps babl's operand order and types: single precision where babl has floats,
// and no contraction into fused multiply-adds, which babl's portable builds do not make either.
namespace orvex::babl {

float u8_unit(int sample) { return static_cast<float>(sample / 255.0); }
float u16_unit(int sample) { return static_cast<float>(sample) / 65535.0f; }

std::uint8_t unit_u8(float value) {
  if (value >= 1.0f) return 0xFF;
  if (value <= 0.0f) return 0;
  return static_cast<std::uint8_t>(0xFF * value + 0.5f);
}

std::uint16_t unit_u16(float value) {
  if (value >= 1.0f) return 0xFFFF;
  if (value <= 0.0f) return 0;
  return static_cast<std::uint16_t>(0xFFFF * value + 0.5f);
}

std::uint16_t unit_u16_in_double(float value) {
  const double wide = value;
  if (wide >= 1.0) return 0xFFFF;
  if (wide <= 0.0) return 0;
  return static_cast<std::uint16_t>(wide * 65535.0 + 0.5);
}

namespace {

// A first guess of x^exponent from the float's bits read as an integer (a rough logarithm).
float vector_first_guess(float x, double exponent, double c0, double c1, double c2) {
  const double norm = exponent * std::numbers::ln2 / (1 << 23);
  const auto y = static_cast<float>(std::bit_cast<std::int32_t>(x) - 0x3f800000);
  return static_cast<float>(c0) + static_cast<float>(c1 * norm) * y + static_cast<float>(c2 * norm * norm) * y * y;
}

// x^2.4 as (x * x^(-1/5))^3.
float vector_pow_24(float x) {
  if (x > 16.0f) return std::exp(std::log(x) * 2.4f);
  float y = vector_first_guess(x, -1. / 5, 0.9953189663, 0.9594345146, 0.6742970332);
  const float z = (1.f / 5.f) * x;
  y = (6.f / 5.f) * y - z * ((y * y * y) * (y * y * y));
  y = (6.f / 5.f) * y - z * ((y * y * y) * (y * y * y));
  x *= y;
  return x * x * x;
}

// x^(1/2.4) as sqrt(x) * x^(-1/6).
float vector_pow_1_24(float x) {
  if (x > 1024.0f) return std::exp(std::log(x) * (1.0f / 2.4f));
  float y = vector_first_guess(x, -1. / 12, 0.9976800269, 0.9885126933, 0.5908575383);
  x = std::sqrt(x);
  const float z = (1.f / 6.f) * x;
  y = (7.f / 6.f) * y - z * ((y * y) * (y * y) * (y * y * y));
  y = (7.f / 6.f) * y - z * ((y * y) * (y * y) * (y * y * y));
  return x * y;
}

// frexpf as musl has it, which babl copies.
float mantissa(float x, int* exponent) {
  const auto bits = std::bit_cast<std::uint32_t>(x);
  const int biased = static_cast<int>(bits >> 23 & 0xff);
  if (biased == 0) {
    if (x == 0.0f) {
      *exponent = 0;
      return x;
    }
    x = mantissa(x * 18446744073709551616.0f, exponent);
    *exponent -= 64;
    return x;
  }
  if (biased == 0xff) return x;
  *exponent = biased - 0x7e;
  return std::bit_cast<float>((bits & 0x807fffffu) | 0x3f000000u);
}

float core_first_guess(float x, float exponent, float c0, float c1, float c2) {
  const float ln2 = 0.69314718055994530942f;
  int binary_exponent = 0;
  float y = mantissa(x, &binary_exponent);
  y = 2 * y + static_cast<float>(binary_exponent - 2);
  c1 *= ln2 * exponent;
  c2 *= ln2 * ln2 * exponent * exponent;
  return c0 + c1 * y + c2 * y * y;
}

float core_pow_24(float x) {
  if (x > 16.0f) return std::exp(std::log(x) * 2.4f);
  float y = core_first_guess(x, -1.f / 5, 0.9953189663f, 0.9594345146f, 0.6742970332f);
  for (int i = 0; i < 3; ++i) y = (1.f + 1.f / 5) * y - ((1.f / 5) * x * (y * y)) * ((y * y) * (y * y));
  x *= y;
  return x * x * x;
}

}  // namespace

float srgb_to_linear(float encoded) {
  if (!(encoded > 0.04045f)) return encoded * (1 / 12.92f);
  return vector_pow_24((encoded + 0.055f) * (1 / 1.055f));
}

float srgb_from_linear(float linear) {
  if (!(linear > 0.003130804954f)) return linear * 12.92f;
  // The offset makes 1.0 map to 1.0.
  return vector_pow_1_24(linear) * 1.055f - (0.055f - 3.0f / static_cast<float>(1 << 24));
}

float srgb_to_linear_core(float encoded) {
  if (!(encoded > 0.04045f)) return encoded / 12.92f;
  return core_pow_24((encoded + 0.055f) / 1.055f);
}

float luminance(float red, float green, float blue) {
  constexpr float kRed = 0x1.c7a7c2p-3f, kGreen = 0x1.6f0e06p-1f, kBlue = 0x1.f080bap-5f;
  return red * kRed + green * kGreen + blue * kBlue;
}

}  // namespace orvex::babl
