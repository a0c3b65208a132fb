#include "render/engine/stamping.hpp"

#include "render/engine/fft_convolution.hpp"
#include "render/engine/parallel.hpp"

#include <glib.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <stdexcept>

namespace orvex {

PathOrientation orientation_of(const RayPath& path) {
  for (std::size_t n = 0; n < path.size(); ++n)
    if (path[n].dx != static_cast<std::int32_t>(n)) return PathOrientation::along_columns;
  return PathOrientation::along_rows;
}

OrientedPath orient_path(const RayPath& path) {
  const bool rows = orientation_of(path) == PathOrientation::along_rows;
  OrientedPath oriented;
  oriented.weights.reserve(path.size());
  for (std::size_t n = 0; n < path.size(); ++n) {
    const RayPoint& p = path[n];
    if (!rows && p.dy != static_cast<std::int32_t>(n))
      throw std::logic_error("ray path advances neither by column nor by row");
    const std::int64_t minor = rows ? p.dy : p.dx;
    const auto major = static_cast<std::int64_t>(n);
    oriented.weights.push_back(p.weight);
    if (!oriented.runs.empty() && oriented.runs.back().minor == minor)
      oriented.runs.back().last = major;
    else
      oriented.runs.push_back({minor, major, major});
  }
  return oriented;
}

void trim_negligible_tail(OrientedPath& path, double negligible) {
  std::int64_t keep = static_cast<std::int64_t>(path.weights.size());
  while (keep > 1 && !(std::fabs(path.weights[keep - 1]) >= negligible)) --keep;
  path.weights.resize(static_cast<std::size_t>(keep));
  while (!path.runs.empty() && path.runs.back().first >= keep) path.runs.pop_back();
  if (!path.runs.empty()) path.runs.back().last = std::min(path.runs.back().last, keep - 1);
}

double threshold_level(std::int32_t threshold) {
  double t = threshold / 255.0;
  if (t > 1.0) t = t - 1.0;
  return t;
}

double test_value(const ChannelPlanes& source, int bpp, int threshold_type, int channel,
                  std::int64_t i) {
  if (bpp < 3) return source.plane(channel)[i];
  const double r = source.plane(0)[i];
  const double g = source.plane(1)[i];
  const double b = source.plane(2)[i];
  switch (threshold_type) {
    case 1: return (g + r + b) / 3;
    case 2: return g * 0.587 + r * 0.299 + b * 0.114;
    default: return source.plane(channel)[i];
  }
}

namespace {

SourceList collect_rows(const ChannelPlanes& source, int bpp, const FilterSettings& settings,
                        int channel, std::int64_t first_row, std::int64_t end_row) {
  // The weighted mean of pure white is 0.9999999999999999, not 1: without some slack a
  // white (or exactly-at-threshold gray) pixel would fail its own level under the averages.
  constexpr double kSlack = 1e-12;
  const double level = threshold_level(settings.threshold) - kSlack;
  const std::span<const double> own = source.plane(channel);
  SourceList list;
  list.row_start.reserve(static_cast<std::size_t>(end_row - first_row + 1));
  list.row_start.push_back(0);
  for (std::int64_t row = first_row; row < end_row; ++row) {
    for (std::int64_t col = 0; col < source.width; ++col) {
      const std::int64_t i = row * source.width + col;
      if (!(test_value(source, bpp, settings.threshold_type, channel, i) >= level)) continue;
      const double value = own[i];
      if (!(value > 0)) continue;  // dark sources (and NaN) add nothing
      list.position.push_back(static_cast<std::int32_t>(col));
      list.value.push_back(std::min(value, 1.0));
    }
    list.row_start.push_back(list.size());
  }
  return list;
}

void append(SourceList& list, const SourceList& part) {
  const std::int64_t offset = list.size();
  for (std::size_t r = 1; r < part.row_start.size(); ++r) list.row_start.push_back(part.row_start[r] + offset);
  list.position.insert(list.position.end(), part.position.begin(), part.position.end());
  list.value.insert(list.value.end(), part.value.begin(), part.value.end());
}

}  // namespace

SourceList collect_sources(const ChannelPlanes& source, int bpp, const FilterSettings& settings,
                           int channel, int thread_count) {
  const int chunks = static_cast<int>(std::clamp<std::int64_t>(thread_count, 1, std::max<std::int64_t>(source.height, 1)));
  std::vector<SourceList> parts(static_cast<std::size_t>(chunks));
  parallel_for(chunks, chunks, [&](std::int64_t begin, std::int64_t end) {
    for (std::int64_t k = begin; k < end; ++k)
      parts[k] = collect_rows(source, bpp, settings, channel, k * source.height / chunks,
                              (k + 1) * source.height / chunks);
  });
  if (chunks == 1) return std::move(parts[0]);
  SourceList list;
  list.row_start.push_back(0);
  for (const SourceList& part : parts) append(list, part);
  return list;
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

namespace {

// Adds every contribution of one oriented path that lands in plane row `row`.
// `columns` is the row length of the plane, `rows` its row count.
void gather_row(double* dst, std::int64_t row, const OrientedPath& path, const SourceList& sources,
                std::int64_t columns, std::int64_t rows) {
  const double* w = path.weights.data();
  for (const OrientedPath::Run& run : path.runs) {
    // Sources whose forward half reaches this row.
    const std::int64_t forward_row = row - run.minor;
    if (forward_row >= 0 && forward_row < rows) {
      for (std::int64_t k = sources.row_start[forward_row]; k < sources.row_start[forward_row + 1];
           ++k) {
        const std::int64_t c = sources.position[k];
        const double v = sources.value[k];
        const std::int64_t lo = std::max(run.first, -c);
        const std::int64_t hi = std::min(run.last, columns - 1 - c);
        double* base = dst + c;
        for (std::int64_t n = lo; n <= hi; ++n) base[n] += w[n] * v;
      }
    }
    // Sources whose mirrored half reaches this row.
    const std::int64_t mirror_row = row + run.minor;
    if (mirror_row >= 0 && mirror_row < rows) {
      for (std::int64_t k = sources.row_start[mirror_row]; k < sources.row_start[mirror_row + 1];
           ++k) {
        const std::int64_t c = sources.position[k];
        const double v = sources.value[k];
        const std::int64_t lo = std::max(run.first, c - columns + 1);
        const std::int64_t hi = std::min(run.last, c);
        double* base = dst + c;
        for (std::int64_t n = lo; n <= hi; ++n) base[-n] += w[n] * v;
      }
    }
  }
}

}  // namespace

void stamp_band(const BandTask& task, const RenderJob& job) {
  const ChannelStampPlan& plan = job.plans[static_cast<std::size_t>(task.channel)];
  if (plan.slot_count == 0) return;
  double* acc = job.accumulation->plane(task.channel).data();
  for (std::int64_t row = task.rows.first; row <= task.rows.last; ++row) {
    double* dst = acc + row * job.width;
    // Every slot adds the source's own value once at the source pixel.
    for (std::int64_t k = plan.by_row.row_start[row]; k < plan.by_row.row_start[row + 1]; ++k)
      for (int s = 0; s < plan.slot_count; ++s) dst[plan.by_row.position[k]] += plan.by_row.value[k];
    for (const OrientedPath& path : plan.row_paths)
      gather_row(dst, row, path, plan.by_row, job.width, job.height);
  }
  if (plan.column_paths.empty()) return;
  double* transposed = job.transposed->plane(task.channel).data();
  for (std::int64_t col = task.columns.first; col <= task.columns.last; ++col) {
    double* dst = transposed + col * job.height;
    for (const OrientedPath& path : plan.column_paths)
      gather_row(dst, col, path, plan.by_column, job.height, job.width);
  }
}

namespace {

void fold_rows(std::span<const double> transposed, std::span<double> accumulation,
               std::int64_t width, std::int64_t height, std::int64_t first_row, std::int64_t end_row) {
  constexpr std::int64_t kBlock = 64;  // keeps both access patterns inside the cache
  for (std::int64_t y0 = first_row; y0 < end_row; y0 += kBlock) {
    const std::int64_t y1 = std::min(end_row, y0 + kBlock);
    for (std::int64_t x0 = 0; x0 < width; x0 += kBlock) {
      const std::int64_t x1 = std::min(width, x0 + kBlock);
      for (std::int64_t y = y0; y < y1; ++y)
        for (std::int64_t x = x0; x < x1; ++x)
          accumulation[y * width + x] += transposed[x * height + y];
    }
  }
}

}  // namespace

void fold_transposed(std::span<const double> transposed, std::span<double> accumulation,
                     std::int64_t width, std::int64_t height, int thread_count) {
  constexpr std::int64_t kRowsPerChunk = 64;
  const std::int64_t chunks = (height + kRowsPerChunk - 1) / kRowsPerChunk;
  parallel_for(chunks, thread_count, [&](std::int64_t first, std::int64_t end) {
    fold_rows(transposed, accumulation, width, height, first * kRowsPerChunk,
              std::min(height, end * kRowsPerChunk));
  });
}

namespace {

struct PoolContext {
  const RenderJob* job;
  const ProgressCallback* progress;
  std::mutex progress_mutex;
  int progress_done = 0;
  int progress_total = 0;
  // GLib's queue synchronises through its own futexes, which race detectors cannot
  // see; these two make the hand-over to the workers and back explicit.
  std::atomic<bool> job_ready{false};
  std::atomic<int> tasks_finished{0};

  void report_done() {
    const std::lock_guard lock(progress_mutex);
    if (progress_total == 0 || !*progress) return;
    ++progress_done;
    (*progress)(static_cast<double>(progress_done) / progress_total);
  }
};

void run_task(gpointer data, gpointer user_data) {
  auto* task = static_cast<const BandTask*>(data);
  auto* context = static_cast<PoolContext*>(user_data);
  (void)context->job_ready.load(std::memory_order_acquire);
  stamp_band(*task, *context->job);
  context->report_done();
  context->tasks_finished.fetch_add(1, std::memory_order_release);
}

ChannelStampPlan make_plan(const ChannelPlanes& source, int bpp, const FilterSettings& settings,
                           int channel, const RayPathSet& set, int thread_count) {
  ChannelStampPlan plan;
  for (const auto& slot : set.slots) {
    if (!slot) continue;
    ++plan.slot_count;
    auto& target = orientation_of(*slot) == PathOrientation::along_rows ? plan.row_paths
                                                                           : plan.column_paths;
    target.push_back(orient_path(*slot));
    trim_negligible_tail(target.back());
  }
  plan.by_row = collect_sources(source, bpp, settings, channel, thread_count);
  return plan;
}

// Channel-major, as the pool should start on one channel's bands together.
std::vector<BandTask> make_tasks(const RenderJob& job, int channels, int bands) {
  std::vector<BandTask> tasks;
  tasks.reserve(static_cast<std::size_t>(channels) * static_cast<std::size_t>(bands));
  for (int c = 0; c < channels; ++c)
    for (int k = 0; k < bands; ++k)
      tasks.push_back({c, band_rows(job.height, k, bands), band_rows(job.width, k, bands)});
  return tasks;
}

}  // namespace

namespace {

bool use_convolution(const ChannelStampPlan& plan, std::int64_t width, std::int64_t height,
                     StampMethod method) {
  if (plan.slot_count == 0 || plan.by_row.size() == 0) return false;
  if (method != StampMethod::automatic) return method == StampMethod::convolution;
  return convolution_cost(width, height, plan) < direct_cost(plan);
}

}  // namespace

ChannelPlanes accumulate_rays(const FilterSettings& settings, ChannelPlanes source, int bpp,
                              const std::vector<RayPathSet>& paths, const StampOptions& options) {
  const int channels = colour_count(bpp);
  if (static_cast<int>(paths.size()) < channels) throw std::invalid_argument("missing path sets");
  const int threads = std::max(1, options.thread_count);
  RenderJob job;
  job.width = source.width;
  job.height = source.height;
  for (int c = 0; c < channels; ++c)
    job.plans.push_back(
        make_plan(source, bpp, settings, c, paths[static_cast<std::size_t>(c)], threads));
  source = {};  // the sources now live in the plans; give the planes back before allocating

  std::vector<bool> convolved(static_cast<std::size_t>(channels));
  for (int c = 0; c < channels; ++c)
    convolved[c] = use_convolution(job.plans[c], job.width, job.height, options.method);

  ChannelPlanes accumulation = alloc_planes(channels, job.width, job.height);
  // Steep rays of directly stamped channels go into a transposed plane, so that
  // they too stream along memory.
  ChannelPlanes transposed{job.height, job.width, std::vector<std::vector<double>>(channels)};
  for (int c = 0; c < channels; ++c)
    if (!convolved[c] && !job.plans[c].column_paths.empty())
      transposed.planes[c].assign(static_cast<std::size_t>(job.width * job.height), 0.0);
  job.accumulation = &accumulation;
  job.transposed = &transposed;

  const int bands = band_count(job.height, threads);
  std::vector<BandTask> tasks;
  for (const BandTask& task : make_tasks(job, channels, bands))
    if (!convolved[task.channel]) tasks.push_back(task);
  const int convolved_count = static_cast<int>(std::count(convolved.begin(), convolved.end(), true));

  PoolContext context{&job, &options.progress, {}, 0,
                      options.progress ? static_cast<int>(tasks.size()) + convolved_count : 0};
  for (int c = 0; c < channels; ++c) {
    ChannelStampPlan& plan = job.plans[c];
    if (convolved[c]) {
      convolve_channel(plan, job.width, job.height, threads, accumulation.plane(c));
      plan.by_row = {};
      context.report_done();
    } else if (!plan.column_paths.empty()) {
      plan.by_column = transpose_sources(plan.by_row, job.width, job.height);
    }
  }
  context.job_ready.store(true, std::memory_order_release);
  GThreadPool* pool = g_thread_pool_new(run_task, &context, threads, FALSE, nullptr);
  for (const BandTask& task : tasks) g_thread_pool_push(pool, const_cast<BandTask*>(&task), nullptr);
  g_thread_pool_free(pool, FALSE, TRUE);
  if (context.tasks_finished.load(std::memory_order_acquire) != static_cast<int>(tasks.size()))
    throw std::runtime_error("the worker pool did not run every band");

  for (int c = 0; c < channels; ++c)
    if (!transposed.planes[c].empty())
      fold_transposed(transposed.plane(c), accumulation.plane(c), job.width, job.height, threads);
  return accumulation;
}

}  // namespace orvex
