#include "engine/sources.hpp"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>
#include <stdexcept>

#include "engine/task_pool.hpp"

namespace orvex {

namespace {

// The weighted mean of pure white is 0.9999999999999999, not 1: without some slack a
// white (or exactly-at-threshold gray) pixel would fail its own level under the averages.
constexpr double kSlack = 1e-12;

// The smallest raw sample whose value reaches `cut`, so that most pixels are skipped with
// comparisons of raw samples. Floats compare as they are.
template <SampleType T>
typename Sample<T>::type raw_cut(double cut) {
  using S = typename Sample<T>::type;
  if constexpr (T == SampleType::f32 || T == SampleType::f64) {
    return static_cast<S>(cut);
  } else {
    constexpr double top = T == SampleType::u8 ? 255 : 65535;
    double raw = std::clamp(std::floor(cut * top) - 1, 0.0, top);
    while (raw < top && !(Sample<T>::unit(static_cast<S>(raw)) >= cut)) ++raw;
    return static_cast<S>(raw);
  }
}

double mask_weight(const ConstPixels& mask, std::int64_t i) {
  const std::byte* at = mask.bytes.data() + i * mask.layout.pixel_bytes();
  if (mask.layout.type == SampleType::u8) {
    const auto m = static_cast<std::uint8_t>(*at);
    return m == 255 ? 1.0 : m / 255.0;
  }
  return std::clamp(unit_value(mask.layout.type, at), 0.0, 1.0);
}

// Whether any of `Count` samples reaches the cut: one pass the vector units can take, so
// that the dark stretches of a photo cost little.
template <typename S, int Count>
bool any_reaches(const std::byte* samples, S cut) {
  S v[Count];
  std::memcpy(v, samples, sizeof v);
  int reached = 0;
  for (int i = 0; i < Count; ++i) reached |= v[i] >= cut;
  return reached != 0;
}

struct Collector {
  const FilterSettings& settings;
  const SourceInput& input;
  double level;

  // Channels and colour channels are fixed per instantiation, so the per-pixel test is a few
  // comparisons of raw samples.
  template <SampleType T, int Channels>
  void rows(std::int64_t first, std::int64_t end, std::vector<SourceList>& out) const {
    using S = typename Sample<T>::type;
    constexpr int colours = colour_count(Channels);
    constexpr std::int64_t pixel = Channels * sizeof(S);
    constexpr int block = 32;  // pixels checked at once where there is no alpha
    const PixelLayout& l = input.pixels.layout;
    // A little below the level, so that rounding in the averages never skips a source.
    const S cut = raw_cut<T>(level - 1e-9);
    for (SourceList& list : out) list.row_start.assign(1, 0);
    constexpr std::int64_t run = RunMaxima::kRunPixels;
    const auto test_pixels = [&](const std::byte* line, std::int64_t row, std::int64_t from, std::int64_t to) {
      for (std::int64_t col = from; col < to; ++col) {
        const std::byte* px = line + col * pixel;
        S best;
        std::memcpy(&best, px, sizeof best);
        for (int c = 1; c < colours; ++c) {
          S v;
          std::memcpy(&v, px + c * sizeof(S), sizeof v);
          if (v > best || best != best) best = v;  // NaN only when all are
        }
        if (best >= cut) add_pixel<T, colours>(px, row * l.width + col, static_cast<std::int32_t>(col), out);
      }
    };
    for (std::int64_t row = first; row < end; ++row) {
      const std::byte* line = input.pixels.bytes.data() + row * l.row_bytes();
      if (input.maxima) {
        const double* maxima = input.maxima->values.data() + row * input.maxima->runs_per_row;
        for (std::int64_t r = 0; r < input.maxima->runs_per_row; ++r)
          if (maxima[r] >= level - 1e-9) test_pixels(line, row, r * run, std::min((r + 1) * run, l.width));
      } else {
        std::int64_t col = 0;
        if constexpr (colours == Channels)
          for (; col + block <= l.width; col += block)
            if (any_reaches<S, block * Channels>(line + col * pixel, cut)) test_pixels(line, row, col, col + block);
        test_pixels(line, row, col, l.width);
      }
      for (SourceList& list : out) list.row_start.push_back(list.size());
    }
  }

  template <SampleType T, int Colours>
  void add_pixel(const std::byte* px, std::int64_t index, std::int32_t col,
                 std::vector<SourceList>& out) const {
    double weight = 1.0;
    if (input.mask) {
      weight = mask_weight(*input.mask, index);
      if (weight == 0.0) return;
    }
    double v[3] = {0, 0, 0};
    for (int c = 0; c < Colours; ++c) {
      v[c] = Sample<T>::unit(load_sample<T>(px + c * sample_bytes(T)));
      if (weight != 1.0) v[c] *= weight;
    }
    for (int c = 0; c < Colours; ++c) {
      double tested = v[c];
      if (Colours == 3 && settings.threshold_type == 1) tested = (v[1] + v[0] + v[2]) / 3;
      if (Colours == 3 && settings.threshold_type == 2) tested = v[1] * 0.587 + v[0] * 0.299 + v[2] * 0.114;
      if (!(tested >= level) || !(v[c] > 0)) continue;
      SourceList& list = out[static_cast<std::size_t>(c)];
      list.position.push_back(col);
      list.value.push_back(std::min(v[c], 1.0));
    }
  }

  template <SampleType T>
  void rows_of(std::int64_t first, std::int64_t end, std::vector<SourceList>& out) const {
    switch (input.pixels.layout.channels) {
      case 1: return rows<T, 1>(first, end, out);
      case 2: return rows<T, 2>(first, end, out);
      case 3: return rows<T, 3>(first, end, out);
      default: return rows<T, 4>(first, end, out);
    }
  }
};

void append(SourceList& list, const SourceList& part) {
  const std::int64_t offset = list.size();
  for (std::size_t r = 1; r < part.row_start.size(); ++r) list.row_start.push_back(part.row_start[r] + offset);
  list.position.insert(list.position.end(), part.position.begin(), part.position.end());
  list.value.insert(list.value.end(), part.value.begin(), part.value.end());
}

}  // namespace

double threshold_level(std::int32_t threshold) {
  double t = threshold / 255.0;
  if (t > 1.0) t = t - 1.0;
  return t;
}

namespace {

void check_input(const SourceInput& input) {
  check_pixels(input.pixels);
  const PixelLayout& l = input.pixels.layout;
  if (input.mask) {
    check_pixels(*input.mask);
    if (input.mask->layout.width != l.width || input.mask->layout.height != l.height ||
        input.mask->layout.channels != 1)
      throw std::invalid_argument("the mask does not cover the layer");
  }
}

// Some rows of every colour channel.
using SourceParts = std::vector<SourceList>;

std::vector<SourceParts> parts_for(const SourceInput& input, std::int64_t count) {
  return std::vector<SourceParts>(static_cast<std::size_t>(count),
                                  SourceParts(static_cast<std::size_t>(colour_count(input.pixels.layout.channels))));
}

void collect_rows(const Collector& collector, std::int64_t first, std::int64_t end, SourceParts& out) {
  with_sample_type(collector.input.pixels.layout.type,
                   [&]<SampleType T>() { collector.rows_of<T>(first, end, out); });
}

LayerSources no_sources_yet(const SourceInput& input) {
  const PixelLayout& l = input.pixels.layout;
  LayerSources sources{l.width, l.height, std::vector<SourceList>(static_cast<std::size_t>(colour_count(l.channels)))};
  for (SourceList& list : sources.by_row) list.row_start.assign(1, 0);
  return sources;
}

// Adds the rows of `part` after those of `sources`, emptying it.
void append(LayerSources& sources, SourceParts& part) {
  for (std::size_t c = 0; c < part.size(); ++c) {
    append(sources.by_row[c], part[c]);
    part[c] = {};
  }
}

// Strips handed from the filling thread to the collecting one.
class FilledStrips {
 public:
  void mark_filled() {
    {
      const std::lock_guard lock(mutex_);
      ++filled_;
    }
    changed_.notify_one();
  }
  void abandon() {
    {
      const std::lock_guard lock(mutex_);
      abandoned_ = true;
    }
    changed_.notify_one();
  }
  // Waits until strip k is filled; false when the filling stopped before it.
  bool wait_for(std::int64_t k) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return filled_ > k || abandoned_; });
    return filled_ > k;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::int64_t filled_ = 0;
  bool abandoned_ = false;
};

}  // namespace

LayerSources collect_sources(const ClampedSettings& settings, const SourceInput& input, int threads) {
  check_input(input);
  const std::int64_t height = input.pixels.layout.height;
  const Collector collector{settings.values(), input, threshold_level(settings->threshold) - kSlack};
  // A few chunks per thread keep both cores busy when the sources cluster.
  const std::int64_t chunks = std::clamp<std::int64_t>(4 * threads, 1, std::max<std::int64_t>(height, 1));
  std::vector<SourceParts> parts = parts_for(input, chunks);
  run_tasks(chunks, TaskRun{threads, {}, nullptr}, [&](std::int64_t k) {
    collect_rows(collector, k * height / chunks, (k + 1) * height / chunks, parts[static_cast<std::size_t>(k)]);
  });
  LayerSources sources = no_sources_yet(input);
  // Room for all at once: growing would hold the old and the new lists beside the parts.
  for (std::size_t c = 0; c < sources.by_row.size(); ++c) {
    std::size_t count = 0;
    for (const SourceParts& part : parts) count += part[c].value.size();
    sources.by_row[c].row_start.reserve(static_cast<std::size_t>(height) + 1);
    sources.by_row[c].position.reserve(count);
    sources.by_row[c].value.reserve(count);
  }
  for (SourceParts& part : parts) append(sources, part);
  return sources;
}

LayerSources collect_sources_while_filling(const ClampedSettings& settings, const SourceInput& input, int threads,
                                           std::int64_t strip_rows,
                                           const std::function<void(std::int64_t first, std::int64_t count)>& fill) {
  check_input(input);
  if (strip_rows < 1) throw std::invalid_argument("a strip holds at least one row");
  const std::int64_t height = input.pixels.layout.height;
  const Collector collector{settings.values(), input, threshold_level(settings->threshold) - kSlack};
  const std::int64_t strips = std::max<std::int64_t>((height + strip_rows - 1) / strip_rows, 1);
  const auto first_row = [&](std::int64_t k) { return std::min(k * strip_rows, height); };
  // Strip by strip, top to bottom, so that the lists grow in order.
  LayerSources sources = no_sources_yet(input);
  SourceParts part = parts_for(input, 1).front();
  const auto collect_strip = [&](std::int64_t k) {
    collect_rows(collector, first_row(k), first_row(k + 1), part);
    append(sources, part);
  };
  if (threads <= 1) {
    for (std::int64_t k = 0; k < strips; ++k) {
      fill(first_row(k), first_row(k + 1) - first_row(k));
      collect_strip(k);
    }
    return sources;
  }

  FilledStrips filled;
  std::exception_ptr failure;  // the worker's; read after it has ended
  std::jthread worker([&] {
    lower_worker_priority();  // the reading thread comes first: it waits for the host
    try {
      for (std::int64_t k = 0; k < strips && filled.wait_for(k); ++k) collect_strip(k);
    } catch (...) {
      failure = std::current_exception();
    }
  });
  try {
    for (std::int64_t k = 0; k < strips; ++k) {
      fill(first_row(k), first_row(k + 1) - first_row(k));
      filled.mark_filled();
    }
  } catch (...) {
    filled.abandon();
    throw;  // the worker is joined on the way out
  }
  worker.join();
  if (failure) std::rethrow_exception(failure);
  return sources;
}

RunMaxima run_maxima(const ConstPixels& pixels) {
  check_pixels(pixels);
  const PixelLayout& l = pixels.layout;
  RunMaxima maxima;
  maxima.runs_per_row = (l.width + RunMaxima::kRunPixels - 1) / RunMaxima::kRunPixels;
  maxima.values.assign(static_cast<std::size_t>(maxima.runs_per_row * l.height), -1.0);
  for (std::int64_t i = 0; i < l.pixel_count(); ++i) {
    double& best = maxima.values[static_cast<std::size_t>(i / l.width * maxima.runs_per_row +
                                                          i % l.width / RunMaxima::kRunPixels)];
    for (int c = 0; c < colour_count(l.channels); ++c) {
      const double v = unit_value(l.type, pixels.bytes.data() + i * l.pixel_bytes() + c * sample_bytes(l.type));
      if (v > best || v != v) best = v != v ? 2.0 : v;  // NaN: never skipped
    }
  }
  return maxima;
}

SourceList transpose_sources(const SourceList& by_row, std::int64_t width, std::int64_t height) {
  SourceList by_column;
  by_column.row_start.assign(static_cast<std::size_t>(width + 1), 0);
  for (std::int32_t col : by_row.position) ++by_column.row_start[static_cast<std::size_t>(col) + 1];
  for (std::int64_t c = 0; c < width; ++c) by_column.row_start[c + 1] += by_column.row_start[c];
  by_column.position.resize(by_row.position.size());
  by_column.value.resize(by_row.value.size());
  std::vector<std::int64_t> fill(by_column.row_start.begin(), by_column.row_start.end() - 1);
  for (std::int64_t row = 0; row < height; ++row) {
    for (std::int64_t k = by_row.row_start[row]; k < by_row.row_start[row + 1]; ++k) {
      const std::int64_t slot = fill[static_cast<std::size_t>(by_row.position[k])]++;
      by_column.position[slot] = static_cast<std::int32_t>(row);
      by_column.value[slot] = by_row.value[k];
    }
  }
  return by_column;
}

}  // namespace orvex
