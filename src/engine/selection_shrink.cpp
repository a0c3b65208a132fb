// GIMP shrinks with a round brush: at horizontal offset a (|a| <= r) it reaches heights[|a|] rows
// up and down, and a pixel keeps the least value under the brush, outside the canvas counting as
// unselected. Here each column's values are summed up as a staircase (the least value within e
// rows of the pixel drops at a few distances), and each drop at distance e caps every pixel the
// brush reaches that column from: those within widths[e] columns. Cost: per pixel, the drops of
// its column within the radius (one or two where the selection is mostly full or empty).
#include <algorithm>
#include <cmath>
#include <numeric>

#include "engine/selection_mask.hpp"
#include "engine/task_pool.hpp"

namespace orvex {

namespace {

// GIMP's brush: rint(sqrt(r^2 - t^2)) rows at offset a, t being a - 0.5 (0 at a = 0).
std::vector<int> brush_heights(int radius) {
  std::vector<int> heights(static_cast<std::size_t>(radius) + 1);
  for (int a = 0; a <= radius; ++a) {
    const double t = a == 0 ? 0.0 : a - 0.5;
    heights[static_cast<std::size_t>(a)] = static_cast<int>(std::rint(std::sqrt(radius * radius - t * t)));
  }
  return heights;
}

// widths[e]: the largest offset at which the brush still reaches e rows.
std::vector<int> brush_widths(const std::vector<int>& heights) {
  std::vector<int> widths(heights.size());
  int a = static_cast<int>(heights.size()) - 1;
  for (std::size_t e = 0; e < widths.size(); ++e) {
    while (a > 0 && heights[static_cast<std::size_t>(a)] < static_cast<int>(e)) --a;
    widths[e] = a;
  }
  return widths;
}

constexpr std::uint16_t kFar = 0xFFFF;  // a distance beyond any brush

// For each pixel of `area`, the distance to the nearest pixel above (or below) in its column with
// a smaller value; pixels outside the canvas count as 0, and the area's outside is all 0.
struct SmallerDistances {
  Rect area;
  LargeVector<std::uint16_t> up, down;
};

// A selection of none but unselected and wholly selected pixels: the smaller value is 0, the
// nearest unselected pixel, found with one counter a column.
void unselected_distances(const SelectionMask& mask, SmallerDistances& d, bool upwards) {
  const Rect& a = d.area;
  std::vector<std::int64_t> last(static_cast<std::size_t>(a.width), upwards ? a.y - 1 : a.y + a.height);
  LargeVector<std::uint16_t>& out = upwards ? d.up : d.down;
  for (std::int64_t k = 0; k < a.height; ++k) {
    const std::int64_t y = upwards ? a.y + k : a.y + a.height - 1 - k;
    const std::uint16_t* values = mask.row(y) + a.x;
    std::uint16_t* distances = out.data() + (y - a.y) * a.width;
    for (std::int64_t i = 0; i < a.width; ++i) {
      distances[i] = static_cast<std::uint16_t>(std::min<std::int64_t>(std::abs(y - last[static_cast<std::size_t>(i)]), kFar));
      if (values[i] == 0) last[static_cast<std::size_t>(i)] = y;
    }
  }
}

// Any values: a stack a column of the rows whose values are still the least seen from there.
void smaller_distances(const SelectionMask& mask, SmallerDistances& d, bool upwards) {
  const Rect& a = d.area;
  struct Entry {
    std::int64_t row;
    std::uint16_t value;
  };
  std::vector<std::vector<Entry>> stacks(static_cast<std::size_t>(a.width));
  LargeVector<std::uint16_t>& out = upwards ? d.up : d.down;
  const std::int64_t beyond = upwards ? a.y - 1 : a.y + a.height;
  for (std::int64_t k = 0; k < a.height; ++k) {
    const std::int64_t y = upwards ? a.y + k : a.y + a.height - 1 - k;
    const std::uint16_t* values = mask.row(y) + a.x;
    std::uint16_t* distances = out.data() + (y - a.y) * a.width;
    for (std::int64_t i = 0; i < a.width; ++i) {
      std::vector<Entry>& stack = stacks[static_cast<std::size_t>(i)];
      while (!stack.empty() && stack.back().value >= values[i]) stack.pop_back();
      const std::int64_t smaller = stack.empty() ? beyond : stack.back().row;
      distances[i] = static_cast<std::uint16_t>(std::min<std::int64_t>(std::abs(y - smaller), kFar));
      stack.push_back({y, values[i]});
    }
  }
}

// The area holds every selected pixel and, inside the canvas, an unselected border around them.
SmallerDistances distances_in(const SelectionMask& mask, const Rect& area) {
  const auto size = static_cast<std::size_t>(area.width * area.height);
  SmallerDistances d{area, LargeVector<std::uint16_t>(size), LargeVector<std::uint16_t>(size)};
  bool two_valued = true;
  for (std::int64_t y = area.y; y < area.y + area.height && two_valued; ++y)
    two_valued = std::all_of(mask.row(y) + area.x, mask.row(y) + area.x + area.width,
                             [&](std::uint16_t v) { return v == 0 || v == mask.full; });
  for (const bool upwards : {true, false})
    (two_valued ? unselected_distances : smaller_distances)(mask, d, upwards);
  return d;
}

class RowShrinker {
 public:
  RowShrinker(const SelectionMask& mask, const SmallerDistances& d, int radius)
      : mask_(mask), d_(d), radius_(radius), widths_(brush_widths(brush_heights(radius))),
        zero_reach_(static_cast<std::size_t>(mask.width)), next_free_(static_cast<std::size_t>(mask.width) + 1) {}

  // Writes row y of the shrunk selection, whose selected pixels lie in the area's columns.
  void shrink_row(std::int64_t y, std::uint16_t* out) {
    const Rect& a = d_.area;
    std::fill(zero_reach_.begin(), zero_reach_.end(), -1);
    capped_.clear();
    for (std::int64_t c = a.x; c < a.x + a.width; ++c) add_column(c, y);
    std::iota(next_free_.begin(), next_free_.end(), 0);
    // Outside the area's columns every pixel is unselected, and so stays.
    std::int64_t reach = -1;
    for (std::int64_t x = 0; x < mask_.width; ++x) {
      reach = std::max(reach, zero_reach_[static_cast<std::size_t>(x)]);
      const bool off_canvas_brush = x < radius_ || x >= mask_.width - radius_;
      const bool outside = x < a.x || x >= a.x + a.width;
      out[x] = (reach >= x || off_canvas_brush || outside) ? 0 : mask_.full;
      if (out[x] == 0) next_free_[static_cast<std::size_t>(x)] = x + 1;
    }
    std::sort(capped_.begin(), capped_.end(), [](const Cap& p, const Cap& q) { return p.value < q.value; });
    for (const Cap& cap : capped_)
      for (std::int64_t x = free_from(std::max<std::int64_t>(cap.first, 0)); x <= cap.last && x < mask_.width;
           x = free_from(x + 1)) {
        out[x] = cap.value;
        next_free_[static_cast<std::size_t>(x)] = x + 1;
      }
  }

 private:
  struct Cap {
    std::int64_t first, last;
    std::uint16_t value;
  };

  std::int64_t free_from(std::int64_t x) {
    std::int64_t root = x;
    while (next_free_[static_cast<std::size_t>(root)] != root) root = next_free_[static_cast<std::size_t>(root)];
    while (next_free_[static_cast<std::size_t>(x)] != root) {
      const std::int64_t next = next_free_[static_cast<std::size_t>(x)];
      next_free_[static_cast<std::size_t>(x)] = root;
      x = next;
    }
    return root;
  }

  void cap(std::int64_t column, int distance, std::uint16_t value) {
    const int half = widths_[static_cast<std::size_t>(distance)];
    if (value == 0) {
      const std::int64_t first = std::max<std::int64_t>(column - half, 0);
      std::int64_t& reach = zero_reach_[static_cast<std::size_t>(first)];
      reach = std::max(reach, column + half);
    } else if (value < mask_.full) {
      capped_.push_back({column - half, column + half, value});
    }
  }

  std::uint16_t value_at(std::int64_t column, std::int64_t row) const {
    const Rect& a = d_.area;
    return row < a.y || row >= a.y + a.height ? 0 : mask_.row(row)[column];
  }
  std::int64_t next_up(std::int64_t column, std::int64_t row) const {
    const Rect& a = d_.area;
    return row - d_.up[static_cast<std::size_t>((row - a.y) * a.width + column - a.x)];
  }
  std::int64_t next_down(std::int64_t column, std::int64_t row) const {
    const Rect& a = d_.area;
    return row + d_.down[static_cast<std::size_t>((row - a.y) * a.width + column - a.x)];
  }

  // The drops of the least value in column c as the brush's reach grows from row y.
  void add_column(std::int64_t c, std::int64_t y) {
    std::uint16_t least = mask_.row(y)[c];
    cap(c, 0, least);
    if (least == 0) return;
    std::int64_t up = next_up(c, y), down = next_down(c, y);
    while (true) {
      const std::int64_t reach = std::min(y - up, down - y);
      if (reach > radius_) return;
      if (y - up == reach) least = std::min(least, value_at(c, up));
      if (down - y == reach) least = std::min(least, value_at(c, down));
      cap(c, static_cast<int>(reach), least);
      if (least == 0) return;
      // Move each side on to its next value below the least.
      while (y - up <= reach || value_at(c, up) >= least) up = next_up(c, up);
      while (down - y <= reach || value_at(c, down) >= least) down = next_down(c, down);
    }
  }

  const SelectionMask& mask_;
  const SmallerDistances& d_;
  int radius_;
  std::vector<int> widths_;
  std::vector<std::int64_t> zero_reach_;
  std::vector<std::int64_t> next_free_;
  std::vector<Cap> capped_;
};

}  // namespace

Rect selected_bounds(const SelectionMask& mask) {
  std::int64_t left = mask.width, right = -1, top = -1, bottom = -1;
  for (std::int64_t y = 0; y < mask.height; ++y) {
    const std::uint16_t* row = mask.row(y);
    const std::uint16_t* first = std::find_if(row, row + mask.width, [](std::uint16_t v) { return v != 0; });
    if (first == row + mask.width) continue;
    const std::uint16_t* last = std::find_if(std::make_reverse_iterator(row + mask.width),
                                             std::make_reverse_iterator(first), [](std::uint16_t v) { return v != 0; })
                                    .base() - 1;
    left = std::min<std::int64_t>(left, first - row);
    right = std::max<std::int64_t>(right, last - row);
    if (top < 0) top = y;
    bottom = y;
  }
  if (right < 0) return {};
  return {left, top, right - left + 1, bottom - top + 1};
}

void shrink_selection(SelectionMask& mask, int steps, int threads) {
  const Rect bounds = selected_bounds(mask);
  if (bounds.width == 0 || steps <= 0) return;
  const std::int64_t left = std::max<std::int64_t>(bounds.x - 1, 0), top = std::max<std::int64_t>(bounds.y - 1, 0);
  const Rect area{left, top, std::min(bounds.x + bounds.width + 1, mask.width) - left,
                  std::min(bounds.y + bounds.height + 1, mask.height) - top};
  const SmallerDistances distances = distances_in(mask, area);
  SelectionMask shrunk(mask.width, mask.height, mask.full);
  // The brush reaches `steps` rows up and down from its centre.
  const std::int64_t first = std::max<std::int64_t>(bounds.y, steps);
  const std::int64_t end = std::min(bounds.y + bounds.height, mask.height - steps);
  parallel_chunks(std::max<std::int64_t>(end - first, 0), threads, [&](std::int64_t begin, std::int64_t stop) {
    RowShrinker shrinker(mask, distances, steps);
    for (std::int64_t y = first + begin; y < first + stop; ++y) shrinker.shrink_row(y, shrunk.row(y));
  });
  mask.values = std::move(shrunk.values);
}

}  // namespace orvex
