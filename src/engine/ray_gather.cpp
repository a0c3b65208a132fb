#include "engine/ray_gather.hpp"

#include <algorithm>

#include "engine/vector_versions.hpp"

namespace orvex {

ORVEX_VECTOR_VERSIONS
void add_scaled(double* __restrict dst, const double* __restrict w, double v, std::int64_t count) {
  for (std::int64_t k = 0; k < count; ++k) dst[k] += w[k] * v;
}

namespace {

// The entries of source line `line` whose positions lie in [low, high]; all of them when the
// span is the whole line, so that a full render pays for no search.
struct EntryRange {
  std::int64_t begin;
  std::int64_t end;
};

EntryRange entries(const SourceList& sources, std::int64_t line, std::int64_t low, std::int64_t high,
                   bool whole_line) {
  const std::int64_t begin = sources.row_start[line];
  const std::int64_t end = sources.row_start[line + 1];
  if (whole_line || begin == end) return {begin, end};
  const auto* first = sources.position.data();
  const auto lo = std::lower_bound(first + begin, first + end, low);
  const auto hi = std::upper_bound(lo, first + end, high);
  return {lo - first, hi - first};
}

}  // namespace

void gather_line(double* dst, const LineSpan& span, const std::vector<OrientedPath>& paths,
                 const SourceList& sources, const LineGeometry& geometry) {
  const bool whole = span.first == 0 && span.end == geometry.length;
  for (const OrientedPath& path : paths) {
    const double* w = path.weights.data();
    // Mirrored halves run backwards along the line; their weights, read last first, run forwards.
    const double* reversed = path.reversed_weights.data();
    const auto length = static_cast<std::int64_t>(path.reversed_weights.size());
    for (const OrientedPath::Run& run : path.runs) {
      const std::int64_t forward_line = span.line - run.minor;
      if (forward_line >= 0 && forward_line < geometry.count) {
        const EntryRange range = entries(sources, forward_line, span.first - run.last,
                                         span.end - 1 - run.first, whole);
        for (std::int64_t k = range.begin; k < range.end; ++k) {
          const std::int64_t c = sources.position[k];
          const std::int64_t lo = std::max(run.first, span.first - c);
          const std::int64_t hi = std::min(run.last, span.end - 1 - c);
          if (lo <= hi) add_scaled(dst + (c + lo - span.first), w + lo, sources.value[k], hi - lo + 1);
        }
      }
      const std::int64_t mirror_line = span.line + run.minor;
      if (mirror_line >= 0 && mirror_line < geometry.count) {
        const EntryRange range = entries(sources, mirror_line, span.first + run.first,
                                         span.end - 1 + run.last, whole);
        for (std::int64_t k = range.begin; k < range.end; ++k) {
          const std::int64_t c = sources.position[k];
          const std::int64_t lo = std::max(run.first, c - span.end + 1);
          const std::int64_t hi = std::min(run.last, c - span.first);
          if (lo <= hi)
            add_scaled(dst + (c - hi - span.first), reversed + (length - 1 - hi), sources.value[k], hi - lo + 1);
        }
      }
    }
  }
}

}  // namespace orvex
