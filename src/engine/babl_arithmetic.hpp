// GIMP converts samples with babl, whose fast paths approximate the sRGB curve and round in their own
// ways. Extracting highlights as GIMP does means converting exactly as those paths do: these are
// the single-precision steps of the paths GIMP takes (sRGB curve by Newton iterations, float-to-integer
// rounding by adding one half), step for step.
#pragma once

#include <cstdint>

namespace orvex::babl {

// Sample to unit value: 8 bits through a double division, 16 bits through a float one.
float u8_unit(int sample);
float u16_unit(int sample);

// Unit value to sample: scaled, one half added, truncated; at or beyond the ends clamped.
std::uint8_t unit_u8(float value);
std::uint16_t unit_u16(float value);
// The same through double precision (babl 0.1.114's path from linear RGBA floats to 16 bits).
std::uint16_t unit_u16_in_double(float value);

// The sRGB curve as babl's SSE2 extension computes it (two Newton steps).
float srgb_to_linear(float encoded);
float srgb_from_linear(float linear);
// The sRGB curve as babl's core computes it (three Newton steps): GIMP's 8-bit tables use it.
float srgb_to_linear_core(float encoded);

// Luminance of a linear RGB colour with sRGB's coefficients, as babl's core computes it in single
// precision. (Its build for AVX2 machines, which babl picks at times, fuses multiply-adds: results
// then differ in the last bit now and then.)
float luminance(float red, float green, float blue);

}  // namespace orvex::babl
