// The light sources of a layer: every pixel whose tested value reaches the threshold.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "engine/filter_settings.hpp"
#include "engine/large_allocator.hpp"
#include "engine/pixels.hpp"

namespace orvex {

// Sources of one channel grouped by line (compressed sparse rows): line l holds the
// entries row_start[l] .. row_start[l + 1] - 1.
struct SourceList {
  LargeVector<std::int64_t> row_start;
  LargeVector<std::int32_t> position;  // along the line
  LargeVector<double> value;           // limited to (0, 1]
  std::int64_t size() const { return static_cast<std::int64_t>(value.size()); }
};

struct LayerSources {
  std::int64_t width = 0;
  std::int64_t height = 0;
  std::vector<SourceList> by_row;  // one per colour channel
};

// The threshold in value units: 0..255 map to 0..1, 256..511 to 1/255..256/255.
double threshold_level(std::int32_t threshold);

// The brightest colour sample (as a value) of each run of kRunPixels pixels of a row: lets
// repeated collections over the same pixels skip dark runs without reading them.
struct RunMaxima {
  static constexpr std::int64_t kRunPixels = 8;
  std::int64_t runs_per_row = 0;
  std::vector<double> values;
};

RunMaxima run_maxima(const ConstPixels& pixels);

struct SourceInput {
  ConstPixels pixels;                  // the colour channels tested and sent
  const ConstPixels* mask = nullptr;   // one channel, the same size: how strongly each is selected
  const RunMaxima* maxima = nullptr;   // of `pixels`, if known
};

// Tests every pixel as the settings say and keeps, per colour channel, the value it sends
// (its own value, weighted by the mask, at most 1). Dark pixels send nothing.
LayerSources collect_sources(const ClampedSettings& settings, const SourceInput& input, int threads);

// The same sources, collected while the caller is still filling the layer: `fill(first, count)`
// is called on the calling thread for rows first .. first + count - 1, strip after strip from
// the top, and has written them when it returns; a worker tests each strip meanwhile (with one
// thread, the calling thread does after each fill). The mask must be whole from the start.
LayerSources collect_sources_while_filling(const ClampedSettings& settings, const SourceInput& input, int threads,
                                           std::int64_t strip_rows,
                                           const std::function<void(std::int64_t first, std::int64_t count)>& fill);

// The same sources grouped by image column (line = column, position = row).
SourceList transpose_sources(const SourceList& by_row, std::int64_t width, std::int64_t height);

}  // namespace orvex
