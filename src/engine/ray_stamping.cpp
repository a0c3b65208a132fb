#include "engine/ray_stamping.hpp"

#include <algorithm>
#include <array>

#include "engine/vector_versions.hpp"

namespace orvex {

namespace {

// dst[k] += w[k] * v for k in [0, count).
ORVEX_VECTOR_VERSIONS
void add_scaled(double* __restrict dst, const double* __restrict w, double v, std::int64_t count) {
  for (std::int64_t k = 0; k < count; ++k) dst[k] += w[k] * v;
}

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

// A path that never leaves its source's line is gathered: each group of kLanes pixels sums the
// sources of its line within reach, in order of position, in registers. Per pixel that is the
// row-major order (a source before it gives its forward half, one after it its mirrored half,
// one on it both), and pixels out of a source's reach add a zero tap, which leaves any sum as
// it is: the same bits as stamping source by source, without the writes.
constexpr std::int64_t kLanes = 32;

// Tap d (pixel minus source) at `centre + d`: the weight at |d|, zero beyond the path's reach
// for kLanes more on each side. `on_source` is zero but for the weight at 0, at kLanes: the
// mirrored half's second add on the source itself.
struct LineTaps {
  explicit LineTaps(const OrientedPath& path)
      : reach(static_cast<std::int64_t>(path.weights.size()) - 1),
        centre(reach + kLanes),
        taps(static_cast<std::size_t>(2 * centre + 1), 0.0) {
    for (std::int64_t d = 0; d <= reach; ++d)
      taps[static_cast<std::size_t>(centre + d)] = taps[static_cast<std::size_t>(centre - d)] =
          path.weights[static_cast<std::size_t>(d)];
    on_source[kLanes] = path.weights.front();
  }
  std::int64_t reach;
  std::int64_t centre;
  std::vector<double> taps;
  std::array<double, 2 * kLanes> on_source{};
};

struct LineSources {
  const std::int32_t* begin;
  const std::int32_t* end;
  const double* values;  // of *begin
};

// A group is summed in vectors of four pixels: independent sums, so that each add need not
// wait for the one before it.
typedef double Lanes __attribute__((vector_size(4 * sizeof(double))));

// By reference: a vector in a register is not part of the portable calling convention.
inline void add_lanes(Lanes& sum, const double* taps, double v) {
  Lanes t;
  __builtin_memcpy(&t, taps, sizeof t);
  sum += t * v;
}

// The same vector, at any double's address.
typedef double UnalignedLanes __attribute__((vector_size(4 * sizeof(double)), aligned(sizeof(double))));

// Loaded and stored a vector at a time, straight into registers: copied whole, the sums went
// through the stack in halves, and each vector read back waited for its two halves.
struct GroupSums {
  Lanes parts[kLanes / 4];
  void load(const double* from) {
    for (std::int64_t k = 0; k < kLanes / 4; ++k) parts[k] = *reinterpret_cast<const UnalignedLanes*>(from + 4 * k);
  }
  void store(double* to) const {
    for (std::int64_t k = 0; k < kLanes / 4; ++k) *reinterpret_cast<UnalignedLanes*>(to + 4 * k) = parts[k];
  }
  void add(const double* taps, double v) {
    for (std::int64_t k = 0; k < kLanes / 4; ++k) add_lanes(parts[k], taps + 4 * k, v);
  }
};

// dst[0 .. groups * kLanes) holds pixels first.. of one line.
ORVEX_VECTOR_VERSIONS
void gather_groups(double* dst, std::int64_t first, std::int64_t groups, LineSources sources,
                   const LineTaps& line) {
  const std::int32_t* begin = sources.begin;
  const std::int32_t* end = sources.begin;
  for (std::int64_t g = 0; g < groups; ++g) {
    const std::int64_t x0 = first + g * kLanes;
    while (begin != sources.end && *begin < x0 - line.reach) ++begin;
    while (end != sources.end && *end <= x0 + kLanes - 1 + line.reach) ++end;
    double* out = dst + g * kLanes;
    GroupSums sums;
    sums.load(out);
    for (const std::int32_t* p = begin; p != end; ++p) {
      const double v = sources.values[p - sources.begin];
      sums.add(line.taps.data() + line.centre + x0 - *p, v);
      if (static_cast<std::uint64_t>(*p - x0) < static_cast<std::uint64_t>(kLanes))
        sums.add(line.on_source.data() + kLanes + x0 - *p, v);
    }
    sums.store(out);
  }
}

// The same sums one pixel at a time, for the pixels after the last whole group.
void gather_pixels(double* dst, std::int64_t first, std::int64_t count, LineSources sources, const LineTaps& line) {
  const std::int32_t* begin = sources.begin;
  for (std::int64_t i = 0; i < count; ++i) {
    const std::int64_t x = first + i;
    while (begin != sources.end && *begin < x - line.reach) ++begin;
    double sum = dst[i];
    for (const std::int32_t* p = begin; p != sources.end && *p <= x + line.reach; ++p) {
      const double v = sources.values[p - sources.begin];
      sum += line.taps[static_cast<std::size_t>(line.centre + x - *p)] * v;
      if (*p == x) sum += line.on_source[kLanes] * v;
    }
    dst[i] = sum;
  }
}

void stamp_one_line(const StampWindow& window, const OrientedPath& path, const SourceList& by_line) {
  const LineTaps line(path);
  const std::int64_t groups = window.length / kLanes;
  const std::int64_t last = window.first + window.length - 1;
  const std::int32_t* positions = by_line.position.data();
  for (std::int64_t l = 0; l < window.lines; ++l) {
    const std::int32_t* begin = std::lower_bound(positions + by_line.row_start[window.first_line + l],
                                                 positions + by_line.row_start[window.first_line + l + 1],
                                                 window.first - line.reach);
    const std::int32_t* end = std::upper_bound(begin, positions + by_line.row_start[window.first_line + l + 1],
                                               last + line.reach);
    if (begin == end) continue;
    const LineSources sources{begin, end, by_line.value.data() + (begin - positions)};
    double* dst = window.values + l * window.length;
    gather_groups(dst, window.first, groups, sources, line);
    gather_pixels(dst + groups * kLanes, window.first + groups * kLanes, window.length - groups * kLanes, sources,
                  line);
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

// Paths one by one: those on their source's line gathered from `by_line` (the sources grouped
// by the window's lines), the others stamped from the reaching sources.
void stamp_paths(const StampWindow& window, const std::vector<OrientedPath>& paths, const SourceList& by_row,
                 const SourceList& by_line, std::int64_t width, bool steep) {
  for (const OrientedPath& path : paths)
    if (along_one_line(path))
      stamp_one_line(window, path, by_line);
    else
      stamp_reaching_sources(window, path, by_row, width, steep);
}

}  // namespace

void stamp_along_rows(const StampWindow& window, const std::vector<OrientedPath>& paths,
                      const SourceList& by_row, std::int64_t width) {
  stamp_paths(window, paths, by_row, by_row, width, false);
}

void stamp_along_columns(const StampWindow& window, const std::vector<OrientedPath>& paths,
                         const SourceList& by_row, const SourceList& by_column, std::int64_t width) {
  stamp_paths(window, paths, by_row, by_column, width, true);
}

}  // namespace orvex
