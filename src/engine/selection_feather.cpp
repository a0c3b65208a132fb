// GIMP feathers with GEGL's Gaussian blur at a standard deviation of radius / 3.5, which below 1.0
// is a short FIR kernel applied in single precision, rows first, then columns; the canvas's edge
// pixels stand for those beyond it. Only the selection's bounds grown by the radius are blurred.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

#include "engine/babl_arithmetic.hpp"
#include "engine/selection_mask.hpp"
#include "engine/task_pool.hpp"

namespace orvex {

namespace {

// GEGL's kernel: ceil(6.5 sigma) taps made odd, Gaussian values normalised by their sum.
std::vector<float> fir_kernel(float sigma) {
  int length = static_cast<int>(std::ceil(sigma * 6.5));
  length += (length + 1) % 2;
  std::vector<float> kernel(static_cast<std::size_t>(length));
  double sum = 0;
  for (int i = 0; i < length; ++i) {
    const auto x = static_cast<float>(i - length / 2);
    kernel[static_cast<std::size_t>(i)] = static_cast<float>(
        (1.0 / (sigma * std::sqrt(2.0 * std::numbers::pi))) * std::exp(-(x * x) / (2.0 * sigma * sigma)));
    sum += kernel[static_cast<std::size_t>(i)];
  }
  for (float& k : kernel) k = static_cast<float>(k / sum);
  return kernel;
}

}  // namespace

void feather_selection(SelectionMask& mask, double radius, int threads) {
  const auto sigma = static_cast<float>(radius / 3.5);
  if (!(sigma < 1.0f)) throw std::invalid_argument("feather radius beyond GEGL's short blur");
  const Rect bounds = selected_bounds(mask);
  if (bounds.width == 0) return;
  const std::vector<float> kernel = fir_kernel(sigma);
  const auto taps = static_cast<std::int64_t>(kernel.size()), half = taps / 2;
  const auto grow = static_cast<std::int64_t>(std::ceil(radius));
  const std::int64_t x0 = std::max<std::int64_t>(bounds.x - grow, 0), y0 = std::max<std::int64_t>(bounds.y - grow, 0);
  const std::int64_t x1 = std::min(bounds.x + bounds.width + grow, mask.width);
  const std::int64_t y1 = std::min(bounds.y + bounds.height + grow, mask.height);
  std::vector<float> units(static_cast<std::size_t>(mask.full) + 1);
  for (int v = 0; v <= mask.full; ++v)
    units[static_cast<std::size_t>(v)] = mask.full == 0xFF ? babl::u8_unit(v) : babl::u16_unit(v);

  // Rows blurred across, for every canvas row the columns' pass reads.
  const std::int64_t r0 = std::max<std::int64_t>(y0 - half, 0), r1 = std::min(y1 + half, mask.height);
  const std::int64_t w = x1 - x0;
  std::vector<float> across(static_cast<std::size_t>((r1 - r0) * w));
  parallel_chunks(r1 - r0, threads, [&](std::int64_t begin, std::int64_t end) {
    std::vector<float> line(static_cast<std::size_t>(w + 2 * half));
    for (std::int64_t y = r0 + begin; y < r0 + end; ++y) {
      for (std::int64_t i = 0; i < w + 2 * half; ++i)
        line[static_cast<std::size_t>(i)] = units[mask.row(y)[std::clamp<std::int64_t>(x0 - half + i, 0, mask.width - 1)]];
      float* out = across.data() + (y - r0) * w;
      for (std::int64_t x = 0; x < w; ++x) {
        float sum = 0.0f;
        for (std::int64_t m = 0; m < taps; ++m) sum += line[static_cast<std::size_t>(x + m)] * kernel[static_cast<std::size_t>(m)];
        out[x] = sum;
      }
    }
  });
  parallel_chunks(y1 - y0, threads, [&](std::int64_t begin, std::int64_t end) {
    std::vector<const float*> rows(static_cast<std::size_t>(taps));
    for (std::int64_t y = y0 + begin; y < y0 + end; ++y) {
      for (std::int64_t m = 0; m < taps; ++m)
        rows[static_cast<std::size_t>(m)] = across.data() + (std::clamp<std::int64_t>(y - half + m, 0, mask.height - 1) - r0) * w;
      std::uint16_t* out = mask.row(y) + x0;
      for (std::int64_t x = 0; x < w; ++x) {
        float sum = 0.0f;
        for (std::int64_t m = 0; m < taps; ++m) sum += rows[static_cast<std::size_t>(m)][x] * kernel[static_cast<std::size_t>(m)];
        out[x] = mask.full == 0xFF ? babl::unit_u8(sum) : babl::unit_u16(sum);
      }
    }
  });
}

}  // namespace orvex
