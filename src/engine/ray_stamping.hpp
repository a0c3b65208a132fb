// Stamping the rays of sources into a window of pixels.
//
// Paths run along lines of the window: shallow ones along image rows, steep ones along image
// columns (the window then holds columns). Each pixel receives its contributions in one fixed
// order, whatever the window: path by path, sources in row-major order, a source's forward half
// before its mirrored half. So a window sums to exactly the same bits as the whole layer does
// there.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/channel_rays.hpp"
#include "engine/sources.hpp"

namespace orvex {

// Lines first_line .. first_line + lines - 1, positions first .. first + length - 1 along each,
// stored line after line.
struct StampWindow {
  double* values;
  std::int64_t first_line;
  std::int64_t lines;
  std::int64_t first;
  std::int64_t length;
};

// Adds the shallow `paths` of every source in `by_row` (a width-wide layer) that reach the
// window, whose lines are image rows.
void stamp_along_rows(const StampWindow& window, const std::vector<OrientedPath>& paths,
                      const SourceList& by_row, std::int64_t width);

// The same for steep paths; the window's lines are image columns. `by_column` holds the same
// sources grouped by column.
void stamp_along_columns(const StampWindow& window, const std::vector<OrientedPath>& paths,
                         const SourceList& by_row, const SourceList& by_column, std::int64_t width);

}  // namespace orvex
