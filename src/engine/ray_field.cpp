#include "engine/ray_field.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "engine/blend.hpp"
#include "engine/fft_convolution.hpp"
#include "engine/ray_stamping.hpp"
#include "engine/task_pool.hpp"
#include "engine/transpose.hpp"

namespace orvex {

namespace {

// Rows stamped at once: each block visits every source within a ray's reach of it, so taller
// blocks visit each source fewer times; a photo's blocks stay low enough to make tasks for every
// thread, a narrow view (the preview) takes taller ones. Upright rays are summed 32 rows at a time.
constexpr std::int64_t kBlockPixels = 64 * 4096;

std::int64_t block_rows(std::int64_t view_width) {
  return std::clamp<std::int64_t>(kBlockPixels / std::max<std::int64_t>(view_width, 1), 32, 256) / 32 * 32;
}

// A block is stamped and blended in areas this wide (a multiple of the 32 pixels summed at
// once along a row): an area's planes stay in the processor's cache from one pass to the next.
constexpr std::int64_t kAreaColumns = 1024;

bool use_convolution(const ChannelRays& rays, const SourceList& sources, std::int64_t width,
                     std::int64_t height, StampMethod method) {
  if (rays.slot_count == 0 || sources.size() == 0) return false;
  if (method != StampMethod::automatic) return method == StampMethod::convolution;
  return convolution_cost(width, height, rays) < direct_cost(rays, sources.size());
}

std::int64_t chunk_count(std::int64_t items, int threads) {
  return std::clamp<std::int64_t>(4 * std::int64_t{threads}, 1, std::max<std::int64_t>(items, 1));
}

// Which tasks have finished, so that the calling thread can report their rows.
class FinishedTasks {
 public:
  explicit FinishedTasks(std::int64_t count) : finished_(static_cast<std::size_t>(count)) {}
  void mark(std::int64_t task) { finished_[static_cast<std::size_t>(task)].store(true, std::memory_order_release); }
  // Calls report(task) once for each task finished since the last call.
  template <typename Report>
  void report_new(Report&& report) {
    for (std::size_t k = 0; k < finished_.size(); ++k)
      if (!reported_[k] && finished_[k].load(std::memory_order_acquire)) {
        reported_[k] = true;
        report(static_cast<std::int64_t>(k));
      }
  }

 private:
  std::vector<std::atomic<bool>> finished_;
  std::vector<bool> reported_ = std::vector<bool>(finished_.size());
};

// A block's planes, handed from task to task: a worker's next task takes the planes its last one
// left, so that a render touches fresh memory (page faults) once per worker, not once per task.
class ScratchPool {
 public:
  struct Planes {
    RayPlanes rays;
    LargeVector<double> steep;
  };
  class Lease {
   public:
    explicit Lease(ScratchPool& pool) : pool_(pool), planes_(pool.take()) {}
    ~Lease() { pool_.give_back(std::move(planes_)); }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    Planes* operator->() const { return planes_.get(); }

   private:
    ScratchPool& pool_;
    std::unique_ptr<Planes> planes_;
  };

  // At most `workers` leases at once.
  ScratchPool(std::size_t colours, std::size_t plane_size, int workers) : colours_(colours), plane_size_(plane_size) {
    idle_.reserve(static_cast<std::size_t>(std::max(workers, 1)));
  }

 private:
  std::unique_ptr<Planes> take() {
    {
      const std::lock_guard lock(mutex_);
      if (!idle_.empty()) {
        std::unique_ptr<Planes> planes = std::move(idle_.back());
        idle_.pop_back();
        return planes;
      }
    }
    return std::make_unique<Planes>(Planes{RayPlanes(colours_, LargeVector<double>(plane_size_)), {}});
  }
  void give_back(std::unique_ptr<Planes> planes) noexcept {
    const std::lock_guard lock(mutex_);
    idle_.push_back(std::move(planes));  // within the room reserved: never throws
  }

  std::size_t colours_;
  std::size_t plane_size_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<Planes>> idle_;
};

std::vector<std::shared_ptr<const SourceList>> own_lists(LayerSources& sources) {
  std::vector<std::shared_ptr<const SourceList>> lists;
  for (SourceList& list : sources.by_row)
    lists.push_back(std::make_shared<const SourceList>(std::move(list)));
  return lists;
}

std::vector<std::shared_ptr<const SourceList>> shared_lists(
    const std::shared_ptr<const LayerSources>& sources) {
  std::vector<std::shared_ptr<const SourceList>> lists;
  for (const SourceList& list : sources->by_row) lists.emplace_back(sources, &list);
  return lists;
}

}  // namespace

RayField::RayField(const ClampedSettings& settings, LayerSources sources, StampMethod method)
    : RayField(settings, sources.width, sources.height, own_lists(sources), method) {}

RayField::RayField(const ClampedSettings& settings, const std::shared_ptr<const LayerSources>& sources,
                   StampMethod method)
    : RayField(settings, sources->width, sources->height, shared_lists(sources), method) {}

RayField::RayField(const ClampedSettings& settings, std::int64_t width, std::int64_t height,
                   ChannelSources by_row, StampMethod method)
    : width_(width),
      height_(height),
      rays_(build_channel_rays(settings, width, height, static_cast<int>(by_row.size()))),
      by_row_(std::move(by_row)) {
  const std::size_t colours = rays_.size();
  by_column_.resize(colours);
  wants_convolution_.resize(colours);
  convolved_.resize(colours);
  blended_.resize(colours);
  for (std::size_t c = 0; c < colours; ++c) {
    wants_convolution_[c] = use_convolution(rays_[c], *by_row_[c], width_, height_, method);
    if (!wants_convolution_[c] && !rays_[c].column_paths.empty())
      by_column_[c] = transpose_sources(*by_row_[c], width_, height_);
  }
}

void RayField::check_convolved() const {
  for (std::size_t c = 0; c < rays_.size(); ++c)
    if (wants_convolution_[c] && !convolved(static_cast<int>(c)))
      throw std::logic_error("dense channels are not convolved yet");
}

int RayField::convolved_count() const {
  return static_cast<int>(std::count(wants_convolution_.begin(), wants_convolution_.end(), true));
}

void RayField::convolve(const RenderOptions& options) {
  std::vector<std::size_t> dense;
  for (std::size_t c = 0; c < rays_.size(); ++c)
    if (wants_convolution_[c] && !convolved(static_cast<int>(c))) dense.push_back(c);
  const auto channels = static_cast<double>(dense.size());
  for (std::size_t k = 0; k < dense.size(); ++k) {
    const std::size_t c = dense[k];
    std::function<void(double)> progress;
    if (options.progress)
      progress = [&](double f) { options.progress((static_cast<double>(k) + f) / channels); };
    convolved_[c] =
        convolve_channel(rays_[c], *by_row_[c], width_, height_, options.threads, options.cancel, progress);
    by_row_[c].reset();  // the plane holds everything the sources gave
  }
}

void RayField::convolve_into(double brightness, const MutablePixels& layer, const RenderOptions& options) {
  check_pixels(layer);
  if (layer.layout.width != width_ || layer.layout.height != height_ || colour_count(layer.layout.channels) != colours())
    throw std::invalid_argument("the pixels do not match the layer");
  std::vector<std::size_t> dense;
  for (std::size_t c = 0; c < rays_.size(); ++c)
    if (wants_convolution_[c] && !convolved(static_cast<int>(c))) dense.push_back(c);
  const auto channels = static_cast<double>(dense.size());
  // The blend is a small share of a channel's work; the transforms report the rest.
  constexpr double kTransformShare = 0.95;
  ConvolvedPlane plane;
  for (std::size_t k = 0; k < dense.size(); ++k) {
    const std::size_t c = dense[k];
    const auto report = [&](double f) {
      if (options.progress) options.progress((static_cast<double>(k) + f) / channels);
    };
    plane = convolve_channel(rays_[c], *by_row_[c], width_, height_, options.threads, options.cancel,
                             [&](double f) { report(kTransformShare * f); }, std::move(plane),
                             [&] { by_row_[c].reset(); });
    const std::int64_t tasks = chunk_count(height_, options.threads);
    TaskRun run{options.threads, {}, options.cancel};
    run.on_done = [&](std::int64_t done, std::int64_t total) {
      report(kTransformShare + (1 - kTransformShare) * static_cast<double>(done) / static_cast<double>(total));
    };
    run_tasks(tasks, run, [&](std::int64_t t) {
      const std::int64_t first = t * height_ / tasks;
      blend_channel(brightness, static_cast<int>(c), plane.row(0), plane.stride, first,
                    (t + 1) * height_ / tasks - first, layer);
    });
    blended_[c] = true;
  }
}

void RayField::accumulate_area(int channel, const Rect& area, LargeVector<double>& steep, double* out) const {
  const auto c = static_cast<std::size_t>(channel);
  const std::int64_t y0 = area.y, rows = area.height;
  if (blended_[c]) {
    std::fill(out, out + rows * area.width, 0.0);  // no rays left to add: the samples stay
    return;
  }
  if (wants_convolution_[c]) {
    for (std::int64_t r = 0; r < rows; ++r)
      std::memcpy(out + r * area.width, convolved_[c].row(y0 + r) + area.x,
                  static_cast<std::size_t>(area.width) * sizeof(double));
    return;
  }
  const ChannelRays& rays = rays_[c];
  const SourceList& sources = *by_row_[c];
  // Steep rays run along image columns: stamped into columns (so that they too add along
  // memory), they start each row's sum.
  if (!rays.column_paths.empty()) {
    steep.assign(static_cast<std::size_t>(area.width * rows), 0.0);
    stamp_along_columns({steep.data(), area.x, area.width, y0, rows}, rays.column_paths, sources,
                        by_column_[c], width_);
    transpose_columns(steep.data(), rows, area.width, out);
  } else {
    std::fill(out, out + rows * area.width, 0.0);
  }
  // Every direction adds the source's own value once at the source pixel; then the shallow rays.
  for (std::int64_t r = 0; r < rows; ++r) {
    double* dst = out + r * area.width;
    for (std::int64_t k = sources.row_start[y0 + r]; k < sources.row_start[y0 + r + 1]; ++k) {
      const std::int64_t x = sources.position[k];
      if (x < area.x || x >= area.x + area.width) continue;
      for (int s = 0; s < rays.slot_count; ++s) dst[x - area.x] += sources.value[k];
    }
  }
  stamp_along_rows({out, y0, rows, area.x, area.width}, rays.row_paths, sources, width_);
}

template <typename Finish>
void RayField::run_rows(const Rect& view, const RenderOptions& options, Finish&& finish) const {
  const std::int64_t block = block_rows(view.width);
  const std::int64_t blocks = (view.height + block - 1) / block;
  const std::int64_t tasks = chunk_count(blocks, options.threads);
  const auto first_block = [&](std::int64_t k) { return k * blocks / tasks; };
  FinishedTasks finished(tasks);
  // Handing rows over takes the calling thread and the host a core; the last worker leaves it to them.
  TaskRun run{options.threads, {}, options.cancel, static_cast<bool>(options.rows_done)};
  if (options.progress || options.rows_done)
    run.on_done = [&](std::int64_t done, std::int64_t total) {
      if (options.rows_done)
        finished.report_new([&](std::int64_t k) {
          const std::int64_t y0 = first_block(k) * block;
          options.rows_done(y0, std::min(first_block(k + 1) * block, view.height) - y0);
        });
      if (options.progress) options.progress(static_cast<double>(done) / static_cast<double>(total));
    };
  const std::int64_t area_columns = std::min(view.width, kAreaColumns);
  ScratchPool pool(rays_.size(), static_cast<std::size_t>(block * area_columns), options.threads);
  run_tasks(tasks, run, [&](std::int64_t k) {
    const ScratchPool::Lease scratch(pool);
    for (std::int64_t b = first_block(k); b < first_block(k + 1); ++b) {
      const std::int64_t y0 = view.y + b * block;
      const std::int64_t rows = std::min(block, view.y + view.height - y0);
      for (std::int64_t x0 = view.x; x0 < view.x + view.width; x0 += area_columns) {
        const Rect area{x0, y0, std::min(area_columns, view.x + view.width - x0), rows};
        for (std::size_t c = 0; c < rays_.size(); ++c)
          accumulate_area(static_cast<int>(c), area, scratch->steep, scratch->rays[c].data());
        finish(area, scratch->rays);
      }
    }
    finished.mark(k);
  });
}

namespace {

void check_view(const Rect& view, std::int64_t width, std::int64_t height) {
  if (view.x < 0 || view.y < 0 || view.width < 0 || view.height < 0 || view.x + view.width > width ||
      view.y + view.height > height)
    throw std::invalid_argument("the view lies outside the layer");
}

}  // namespace

Accumulation RayField::accumulate(const Rect& view, const RenderOptions& options) const {
  check_view(view, width_, height_);
  check_convolved();
  Accumulation result{view, RayPlanes(rays_.size(), LargeVector<double>(static_cast<std::size_t>(view.width * view.height)))};
  if (view.width == 0 || view.height == 0) return result;
  RenderOptions quiet = options;
  quiet.progress = {};
  quiet.rows_done = {};
  run_rows(view, quiet, [&](const Rect& area, const auto& rays) {
    for (std::size_t c = 0; c < rays.size(); ++c)
      for (std::int64_t r = 0; r < area.height; ++r)
        std::copy_n(rays[c].data() + r * area.width, area.width,
                    result.planes[c].data() + (area.y + r - view.y) * view.width + area.x - view.x);
  });
  return result;
}

void RayField::render(const Rect& view, double brightness, const ConstPixels& base,
                      const MutablePixels& out, const RenderOptions& options) const {
  check_view(view, width_, height_);
  check_pixels(base);
  check_pixels(out);
  if (base.layout.width != width_ || base.layout.height != height_ ||
      colour_count(base.layout.channels) != colours() || out.layout.width != view.width ||
      out.layout.height != view.height || out.layout.channels != base.layout.channels ||
      out.layout.type != base.layout.type)
    throw std::invalid_argument("the pixels do not match the layer or the view");
  check_convolved();
  if (view.width == 0 || view.height == 0) return;

  run_rows(view, options, [&](const Rect& area, const auto& rays) {
    blend_area(brightness, rays, area, base, out, view);
  });
}

void blend_view(const Accumulation& rays, double brightness, const ConstPixels& base,
                const MutablePixels& out) {
  blend_area(brightness, rays.planes, rays.view, base, out, rays.view);
}

}  // namespace orvex
