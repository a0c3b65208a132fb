#include "render/engine/bands.hpp"

namespace orvex {

int band_count(std::int64_t height, int processor_count) {
  if (processor_count < 1) return 1;
  return height < 2 * static_cast<std::int64_t>(processor_count) ? 1 : processor_count;
}

RowRange band_rows(std::int64_t height, int band, int count) {
  const std::int64_t first = band * height / count;
  const std::int64_t last = band == count - 1 ? height - 1 : (band + 1) * height / count - 1;
  return {first, last};
}

}  // namespace orvex
