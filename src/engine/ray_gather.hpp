// Gathering the rays that land on one line of pixels.
//
// A line is an image row (for shallow rays) or an image column (for steep rays, kept in a
// transposed plane). Each destination element receives its contributions in a fixed order
// (path by path, run by run, forward half then mirrored half, sources along their line), so
// a part of a line sums to exactly the same bits as the whole line does there.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/channel_rays.hpp"
#include "engine/sources.hpp"

namespace orvex {

struct LineSpan {
  std::int64_t line;   // which line
  std::int64_t first;  // positions first .. end - 1 along it
  std::int64_t end;
};

struct LineGeometry {
  std::int64_t length;  // positions per line
  std::int64_t count;   // lines
};

// Adds the contributions of `paths` that land inside `span` into dst[0 .. end - first).
// `sources` are grouped by lines of the same orientation.
void gather_line(double* dst, const LineSpan& span, const std::vector<OrientedPath>& paths,
                 const SourceList& sources, const LineGeometry& geometry);

// dst[k] += w[k] * v for k in [0, count).
void add_scaled(double* dst, const double* w, double v, std::int64_t count);

}  // namespace orvex
