// Splitting a region's rows into one band per processor.
#pragma once

#include <cstdint>

namespace orvex {

struct RowRange {
  std::int64_t first;
  std::int64_t last;  // inclusive; first > last means empty

  bool operator==(const RowRange&) const = default;
};

// One band per processor, but a single band when there are fewer than two rows per processor.
int band_count(std::int64_t height, int processor_count);

RowRange band_rows(std::int64_t height, int band, int band_count);

}  // namespace orvex
