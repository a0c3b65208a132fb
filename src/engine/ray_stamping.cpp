#include "engine/ray_stamping.hpp"

#include <algorithm>

#include "engine/vector_versions.hpp"

namespace orvex {

ORVEX_VECTOR_VERSIONS
void add_scaled(double* __restrict dst, const double* __restrict w, double v, std::int64_t count) {
  for (std::int64_t k = 0; k < count; ++k) dst[k] += w[k] * v;
}

namespace {

// Diagonal paths are made of runs of one or two points: a call per run would cost more than
// the run. The same arithmetic either way, so the same bits.
inline void add_run(double* __restrict dst, const double* __restrict w, double v, std::int64_t count) {
  if (count >= 8) {
    add_scaled(dst, w, v, count);
    return;
  }
  for (std::int64_t k = 0; k < count; ++k) dst[k] += w[k] * v;
}

struct Interval {
  std::int64_t low;
  std::int64_t high;  // inclusive; empty when high < low
};

Interval intersect(Interval a, Interval b) { return {std::max(a.low, b.low), std::min(a.high, b.high)}; }

// One source at line `line`, position `position` (in the path's own orientation).
void stamp_source(const StampWindow& window, const OrientedPath& path, std::int64_t position, std::int64_t line,
                  double value) {
  const auto runs = static_cast<std::int64_t>(path.runs.size());
  const std::int64_t length = static_cast<std::int64_t>(path.weights.size());
  const Interval lines{window.first_line, window.first_line + window.lines - 1};
  const Interval positions{window.first, window.first + window.length - 1};
  // The runs whose minor offset lies in `offsets` and whose major offsets reach `majors`.
  const auto run_range = [&](Interval offsets, Interval majors) {
    majors = intersect(majors, {0, length - 1});
    if (majors.low > majors.high) return Interval{0, -1};
    const Interval by_major{path.run_at[static_cast<std::size_t>(majors.low)],
                            path.run_at[static_cast<std::size_t>(majors.high)]};
    return intersect(intersect(path.minor_step > 0 ? offsets : Interval{-offsets.high, -offsets.low}, by_major),
                     {0, runs - 1});
  };
  // Forward half: run j lands on line + minor_j at positions position + first_j .. last_j.
  const Interval forward =
      run_range({lines.low - line, lines.high - line}, {positions.low - position, positions.high - position});
  for (std::int64_t j = forward.low; j <= forward.high; ++j) {
    const OrientedPath::Run& run = path.runs[static_cast<std::size_t>(j)];
    const Interval span = intersect({position + run.first, position + run.last}, positions);
    if (span.low > span.high) continue;
    add_run(window.values + (line + run.minor - window.first_line) * window.length + (span.low - window.first),
            path.weights.data() + (span.low - position), value, span.high - span.low + 1);
  }
  // Mirrored half: line - minor_j, positions position - last_j .. position - first_j, weights
  // read last first.
  const Interval mirrored =
      run_range({line - lines.high, line - lines.low}, {position - positions.high, position - positions.low});
  for (std::int64_t j = mirrored.low; j <= mirrored.high; ++j) {
    const OrientedPath::Run& run = path.runs[static_cast<std::size_t>(j)];
    const Interval span = intersect({position - run.last, position - run.first}, positions);
    if (span.low > span.high) continue;
    add_run(window.values + (line - run.minor - window.first_line) * window.length + (span.low - window.first),
            path.reversed_weights.data() + (length - 1 - (position - span.low)), value,
            span.high - span.low + 1);
  }
}

// Calls visit(row, column, value) for the sources in rows `rows` and columns `columns`, in
// row-major order.
template <typename Visit>
void for_sources(const SourceList& by_row, std::int64_t width, Interval rows, Interval columns, Visit&& visit) {
  rows = intersect(rows, {0, static_cast<std::int64_t>(by_row.row_start.size()) - 2});
  const bool every_column = columns.low <= 0 && columns.high >= width - 1;
  const auto* positions = by_row.position.data();
  for (std::int64_t y = rows.low; y <= rows.high; ++y) {
    std::int64_t begin = by_row.row_start[y];
    std::int64_t end = by_row.row_start[y + 1];
    if (begin == end) continue;
    if (!every_column) {
      begin = std::lower_bound(positions + begin, positions + end, columns.low) - positions;
      end = std::upper_bound(positions + begin, positions + end, columns.high) - positions;
    }
    for (std::int64_t k = begin; k < end; ++k) visit(y, std::int64_t{positions[k]}, by_row.value[k]);
  }
}

// How far a path reaches from its source along its lines and across them.
Interval along(const OrientedPath& path) {
  const auto last = static_cast<std::int64_t>(path.weights.size()) - 1;
  return {-last, last};
}
Interval across(const OrientedPath& path) {
  const auto last = static_cast<std::int64_t>(path.runs.size()) - 1;
  return {-last, last};
}

bool along_one_line(const OrientedPath& path) { return path.runs.size() == 1 && path.runs.front().minor == 0; }

// A path that never leaves its source's line: each line takes just its own sources, found by
// position. A pixel gets the forward halves of the sources before it and then the mirrored
// halves of those after it, which is the row-major order.
void stamp_one_line(const StampWindow& window, const OrientedPath& path, const SourceList& by_line) {
  const OrientedPath::Run& run = path.runs.front();
  const auto length = static_cast<std::int64_t>(path.weights.size());
  const std::int64_t last = window.first + window.length - 1;
  const auto* positions = by_line.position.data();
  for (std::int64_t l = 0; l < window.lines; ++l) {
    double* dst = window.values + l * window.length;
    const auto* line_begin = positions + by_line.row_start[window.first_line + l];
    const auto* line_end = positions + by_line.row_start[window.first_line + l + 1];
    const auto* begin = std::lower_bound(line_begin, line_end, window.first - run.last);
    const auto* end = std::upper_bound(begin, line_end, last - run.first);
    for (const auto* p = begin; p != end; ++p) {
      const std::int64_t at = *p;
      const std::int64_t low = std::max(run.first, window.first - at);
      const std::int64_t high = std::min(run.last, last - at);
      if (low <= high)
        add_run(dst + (at + low - window.first), path.weights.data() + low, by_line.value[p - positions],
                high - low + 1);
    }
    begin = std::lower_bound(line_begin, line_end, window.first + run.first);
    end = std::upper_bound(begin, line_end, last + run.last);
    for (const auto* p = begin; p != end; ++p) {
      const std::int64_t at = *p;
      const std::int64_t low = std::max(run.first, at - last);
      const std::int64_t high = std::min(run.last, at - window.first);
      if (low <= high)
        add_run(dst + (at - high - window.first), path.reversed_weights.data() + (length - 1 - high),
                by_line.value[p - positions], high - low + 1);
    }
  }
}

// Stamps `path` for every source within its reach of the window, visited in row-major order;
// `steep` when the window's lines are image columns.
void stamp_reaching_sources(const StampWindow& window, const OrientedPath& path, const SourceList& by_row,
                            std::int64_t width, bool steep) {
  const Interval reach = across(path);
  const Interval lengthwise = along(path);
  const Interval lines{window.first_line + reach.low, window.first_line + window.lines - 1 + reach.high};
  const Interval positions{window.first + lengthwise.low, window.first + window.length - 1 + lengthwise.high};
  if (steep)
    for_sources(by_row, width, positions, lines,
                [&](std::int64_t y, std::int64_t x, double value) { stamp_source(window, path, y, x, value); });
  else
    for_sources(by_row, width, lines, positions,
                [&](std::int64_t y, std::int64_t x, double value) { stamp_source(window, path, x, y, value); });
}

}  // namespace

void stamp_along_rows(const StampWindow& window, const std::vector<OrientedPath>& paths,
                      const SourceList& by_row, std::int64_t width) {
  for (const OrientedPath& path : paths) stamp_reaching_sources(window, path, by_row, width, false);
}

void stamp_along_columns(const StampWindow& window, const std::vector<OrientedPath>& paths,
                         const SourceList& by_row, const SourceList& by_column, std::int64_t width) {
  for (const OrientedPath& path : paths)
    if (along_one_line(path))
      stamp_one_line(window, path, by_column);
    else
      stamp_reaching_sources(window, path, by_row, width, true);
}

}  // namespace orvex
