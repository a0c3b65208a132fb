// Reading and writing GEGL buffers in a format that keeps every bit of the drawable.
#pragma once

#include <gegl.h>

#include "engine/highlight_extraction.hpp"
#include "engine/pixels.hpp"

namespace orvex {

// GEGL for buffers alone: its operation modules, which a plug-in that only moves pixels never
// uses, are left unloaded (scanning them takes longer than rendering a small layer), and so is
// babl's cache of conversions, which GIMP keeps in the user's cache folder: loading it makes
// every fish it names, lookup tables included, which costs a fresh process a quarter of a second
// and some 280 MB (babl 0.1.98); the few conversions a plug-in needs are found faster.
void init_gegl_for_buffers();

struct TransferFormat {
  const Babl* babl;    // the drawable's own model, colour space and TRC
  PixelLayout layout;  // width and height left to the caller
};

// The drawable's own format where the engine has its sample type (8- and 16-bit integers,
// floats, doubles); half floats are read as floats and 32-bit integers as doubles, which
// holds them exactly.
TransferFormat transfer_format(const Babl* own_format, std::int64_t width, std::int64_t height);

// The curve the format's colour samples lie on: linear, or sRGB's (babl's ' and ~ models).
SampleCurve sample_curve(const Babl* format);

// Throws std::bad_alloc when the memory that moving all of `buffer` through GEGL takes (its tile
// cache holds every tile fetched from or written to GIMP, up to the cache's size) cannot be had
// now. GEGL ends the process on a failed allocation, so this is asked before a transfer starts.
void reserve_transfer_memory(GeglBuffer* buffer);

// The rectangle's pixels; outside the buffer's extent they are zero.
PixelBuffer read_pixels(GeglBuffer* buffer, const Rect& rect, const TransferFormat& format);

// Reads rows first .. first + count - 1 of `buffer` into the same rows of a whole layer's `pixels`.
void read_rows(GeglBuffer* buffer, const TransferFormat& format, const MutablePixels& pixels, std::int64_t first,
               std::int64_t count);

void write_pixels(GeglBuffer* buffer, const Rect& rect, const TransferFormat& format,
                  const ConstPixels& pixels);

// Writes rows first .. first + count - 1 of a whole layer's `pixels` to the same rows of `buffer`.
void write_rows(GeglBuffer* buffer, const TransferFormat& format, const ConstPixels& pixels, std::int64_t first,
                std::int64_t count);

// A selection mask in one gray channel of the layer's sample type (bytes for 8-bit layers,
// floats otherwise), read where the layer lies on the canvas.
TransferFormat mask_format(SampleType layer_type, std::int64_t width, std::int64_t height);

// Pixels as 8-bit display bytes (R'G'B'(A) or Y'(A)), for a preview widget.
std::vector<std::uint8_t> display_bytes(const ConstPixels& pixels, const Babl* format);

}  // namespace orvex
