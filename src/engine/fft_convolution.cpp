#include "engine/fft_convolution.hpp"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>

#include "engine/task_pool.hpp"

namespace orvex {

namespace {

// FFTW's planner is not thread-safe; executing plans is. Never destroyed: a cancelled preview job
// that nobody waits for may still be planning while the process exits.
std::mutex& planner_mutex() {
  static auto* const mutex = new std::mutex;
  return *mutex;
}

struct FftwFree {
  void operator()(void* p) const { fftw_free(p); }
};
template <typename T>
using FftwBuffer = std::unique_ptr<T[], FftwFree>;

template <typename T>
FftwBuffer<T> allocate(std::int64_t count) {
  auto* p = static_cast<T*>(fftw_malloc(static_cast<std::size_t>(count) * sizeof(T)));
  if (!p) throw std::bad_alloc();
  return FftwBuffer<T>(p);
}

class Plan {
 public:
  explicit Plan(fftw_plan plan) noexcept : plan_(plan) {}
  ~Plan() {
    if (!plan_) return;
    const std::lock_guard lock(planner_mutex());
    fftw_destroy_plan(plan_);
  }
  Plan(const Plan&) = delete;
  Plan& operator=(const Plan&) = delete;
  fftw_plan get() const { return plan_; }

 private:
  fftw_plan plan_;
};

// The kernel's blocks of one column pass, handed from task to task: fresh memory costs a page
// fault per page.
class ScratchBlocks {
 public:
  ScratchBlocks(std::int64_t complex_count, int most_at_once) : count_(complex_count) {
    idle_.reserve(static_cast<std::size_t>(most_at_once));
  }
  FftwBuffer<fftw_complex> take() {
    {
      const std::lock_guard lock(mutex_);
      if (!idle_.empty()) {
        FftwBuffer<fftw_complex> block = std::move(idle_.back());
        idle_.pop_back();
        return block;
      }
    }
    return allocate<fftw_complex>(count_);
  }
  void give_back(FftwBuffer<fftw_complex> block) noexcept {
    const std::lock_guard lock(mutex_);
    idle_.push_back(std::move(block));  // within the room reserved: never throws
  }

 private:
  std::int64_t count_;
  std::mutex mutex_;
  std::vector<FftwBuffer<fftw_complex>> idle_;
};

bool is_smooth(std::int64_t n) {
  for (std::int64_t p : {2, 3, 5, 7})
    while (n % p == 0) n /= p;
  return n == 1;
}

std::int64_t next_smooth(std::int64_t n) {
  n = std::max<std::int64_t>(n, 1);
  while (!is_smooth(n)) ++n;
  return n;
}

// Calls f(dx, dy, weight) for every kernel point of the plan (both halves of every path).
template <typename F>
void for_each_kernel_point(const ChannelRays& plan, F&& f) {
  const auto visit = [&](const OrientedPath& path, bool along_rows) {
    for (const OrientedPath::Run& run : path.runs)
      for (std::int64_t n = run.first; n <= run.last; ++n) {
        const double w = path.weights[static_cast<std::size_t>(n)];
        const std::int64_t dx = along_rows ? n : run.minor;
        const std::int64_t dy = along_rows ? run.minor : n;
        f(dx, dy, w);
        f(-dx, -dy, w);
      }
  };
  for (const OrientedPath& path : plan.row_paths) visit(path, true);
  for (const OrientedPath& path : plan.column_paths) visit(path, false);
}

// Ray points and runs of all directions: a run costs a visit of its own, so a diagonal path
// with the same points costs several times more than an axis-aligned one.
struct PathSize {
  std::int64_t points = 0;
  std::int64_t runs = 0;
};

PathSize path_size(const ChannelRays& plan) {
  PathSize size;
  for (const auto* paths : {&plan.row_paths, &plan.column_paths})
    for (const OrientedPath& path : *paths) {
      size.points += static_cast<std::int64_t>(path.weights.size());
      size.runs += static_cast<std::int64_t>(path.runs.size());
    }
  return size;
}

}  // namespace

KernelReach kernel_reach(const ChannelRays& plan) {
  KernelReach reach{0, 0};
  for_each_kernel_point(plan, [&](std::int64_t dx, std::int64_t dy, double) {
    reach.dx = std::max(reach.dx, std::abs(dx));
    reach.dy = std::max(reach.dy, std::abs(dy));
  });
  return reach;
}

ConvolutionSize convolution_size(std::int64_t width, std::int64_t height, KernelReach reach) {
  // Output x only needs sources within reach.dx; a period of width + reach keeps
  // every wrapped contribution outside the region.
  return {next_smooth(width + reach.dx), next_smooth(height + reach.dy)};
}

// Calibrated on the 2-core development machine: nanoseconds per added ray point and per run
// in direct stamping, and per element and log2 step of a real 2-D transform.
constexpr double kDirectNsPerPoint = 0.8;
constexpr double kDirectNsPerRun = 3.0;
constexpr double kFftNsPerElementLog = 0.9;

double direct_cost(const ChannelRays& plan, std::int64_t source_count) {
  const PathSize size = path_size(plan);
  const double per_source =
      static_cast<double>(size.points) * kDirectNsPerPoint + static_cast<double>(size.runs) * kDirectNsPerRun;
  return static_cast<double>(source_count) * 2.0 * per_source;
}

double convolution_cost(std::int64_t width, std::int64_t height, const ChannelRays& plan) {
  const ConvolutionSize size = convolution_size(width, height, kernel_reach(plan));
  const double elements = static_cast<double>(size.width) * static_cast<double>(size.height);
  // FFTW's basic interface counts in int: larger transforms must stamp directly.
  if (elements * 2 > static_cast<double>(std::numeric_limits<int>::max()))
    return std::numeric_limits<double>::infinity();
  // Three transforms: kernel, sources, and back.
  return 3.0 * elements * std::log2(std::max(elements, 2.0)) * kFftNsPerElementLog;
}

// A task transforms this many rows, or a block of this many complex columns (copied out to be
// transformed along memory: strided in place, whole columns miss the cache at every row).
constexpr std::int64_t kTaskRows = 32;
constexpr std::int64_t kBlockColumns = 16;

// The 2-D transforms as passes of 1-D ones, each pass cut into tasks: the rows of the sources and
// the kernel's rows that hold points; then per block of columns the forward transforms of both,
// their product and the backward transform; then the rows the layer covers, back.
void FftwMemoryFree::operator()(double* values) const noexcept { fftw_free(values); }

ConvolvedPlane convolve_channel(const ChannelRays& plan, const SourceList& by_row, std::int64_t width,
                                std::int64_t height, int thread_count, const std::atomic<bool>* cancel,
                                const std::function<void(double fraction)>& progress, ConvolvedPlane reused,
                                const std::function<void()>& sources_read) {
  const ConvolutionSize size = convolution_size(width, height, kernel_reach(plan));
  const std::int64_t nx = size.width;
  const std::int64_t ny = size.height;
  const std::int64_t columns = nx / 2 + 1;  // complex values per row of a real transform
  const std::int64_t stride = 2 * columns;  // doubles per row, in place
  if (ny * stride > std::numeric_limits<int>::max()) throw std::length_error("transform too large");

  const auto wrap = [](std::int64_t v, std::int64_t n) { return ((v % n) + n) % n; };
  std::vector<std::int64_t> kernel_row(static_cast<std::size_t>(ny), -1);  // of each row: its row in `kernel`
  std::vector<std::int64_t> kernel_rows;                                  // the rows that hold points
  const auto hold = [&](std::int64_t y) {
    if (kernel_row[y] < 0) {
      kernel_row[y] = static_cast<std::int64_t>(kernel_rows.size());
      kernel_rows.push_back(y);
    }
  };
  hold(0);
  for_each_kernel_point(plan, [&](std::int64_t, std::int64_t dy, double) { hold(wrap(dy, ny)); });
  const auto kernel_count = static_cast<std::int64_t>(kernel_rows.size());
  // Made once the sources are read (and perhaps let go): both at once would raise the peak.
  FftwBuffer<double> kernel;
  const auto make_kernel = [&] {
    kernel = allocate<double>(kernel_count * stride);
    std::fill(kernel.get(), kernel.get() + kernel_count * stride, 0.0);
    kernel[0] = plan.slot_count;  // each direction adds the source's own value once
    for_each_kernel_point(plan, [&](std::int64_t dx, std::int64_t dy, double w) {
      kernel[kernel_row[wrap(dy, ny)] * stride + wrap(dx, nx)] += w;
    });
  };

  // Only the layer's rows are kept: the padding rows are zeros going in and unread coming out.
  ConvolvedPlane result = std::move(reused);
  if (result.capacity < height * stride) {
    result.values.reset();  // before the new one: both at once would raise the peak
    result.values.reset(allocate<double>(height * stride).release());
    result.capacity = height * stride;
  }
  result.stride = stride;
  double* const spectrum = result.values.get();
  const auto complex_row = [](double* row) { return reinterpret_cast<fftw_complex*>(row); };
  ScratchBlocks scratch(ny * kBlockColumns, 2 * std::max(thread_count, 1) + 1);
  FftwBuffer<fftw_complex> planned_block = scratch.take();
  std::unique_lock planning(planner_mutex());
  const int n0 = static_cast<int>(ny);
  const int n1 = static_cast<int>(nx);
  const int across = static_cast<int>(kBlockColumns);
  double* const first_row = spectrum;
  fftw_complex* const block = planned_block.get();
  const auto columns_plan = [&](int sign) {
    return fftw_plan_many_dft(1, &n0, across, block, nullptr, across, 1, block, nullptr, across, 1, sign,
                              FFTW_ESTIMATE);
  };
  const Plan rows_forward(fftw_plan_dft_r2c_1d(n1, first_row, complex_row(first_row), FFTW_ESTIMATE));
  const Plan rows_backward(fftw_plan_dft_c2r_1d(n1, complex_row(first_row), first_row, FFTW_ESTIMATE));
  const Plan columns_forward(columns_plan(FFTW_FORWARD));
  const Plan columns_backward(columns_plan(FFTW_BACKWARD));
  planning.unlock();
  scratch.give_back(std::move(planned_block));
  for (const Plan* made : {&rows_forward, &rows_backward, &columns_forward, &columns_backward})
    if (!made->get()) throw std::runtime_error("FFTW made no plan");

  const auto tasks_of = [](std::int64_t rows) { return (rows + kTaskRows - 1) / kTaskRows; };
  const std::int64_t blocks = (columns + kBlockColumns - 1) / kBlockColumns;
  const std::int64_t row_tasks = tasks_of(height) + tasks_of(kernel_count);
  const double all_tasks = static_cast<double>(row_tasks + blocks + tasks_of(height));
  std::int64_t tasks_before = 0;
  const auto pass = [&](std::int64_t tasks, const std::function<void(std::int64_t)>& task) {
    TaskRun run{thread_count, {}, cancel};
    if (progress)
      run.on_done = [&](std::int64_t done, std::int64_t) {
        progress(static_cast<double>(tasks_before + done) / all_tasks);
      };
    run_tasks(tasks, run, task);
    tasks_before += tasks;
  };

  pass(tasks_of(height), [&](std::int64_t k) {
    for (std::int64_t y = k * kTaskRows; y < std::min((k + 1) * kTaskRows, height); ++y) {
      double* row = spectrum + y * stride;
      std::fill(row, row + stride, 0.0);
      for (std::int64_t s = by_row.row_start[y]; s < by_row.row_start[y + 1]; ++s)
        row[by_row.position[s]] = by_row.value[s];
      fftw_execute_dft_r2c(rows_forward.get(), row, complex_row(row));
    }
  });
  if (sources_read) sources_read();
  make_kernel();
  pass(tasks_of(kernel_count), [&](std::int64_t k) {
    for (std::int64_t r = k * kTaskRows; r < std::min((k + 1) * kTaskRows, kernel_count); ++r) {
      double* row = kernel.get() + r * stride;
      fftw_execute_dft_r2c(rows_forward.get(), row, complex_row(row));
    }
  });

  pass(blocks, [&](std::int64_t b) {
    const std::int64_t first = b * kBlockColumns;
    const std::int64_t count = std::min(kBlockColumns, columns - first);
    FftwBuffer<fftw_complex> sources = scratch.take();
    FftwBuffer<fftw_complex> kernel_block = scratch.take();
    double* const s = &sources[0][0];
    double* const k = &kernel_block[0][0];
    std::fill(s, s + 2 * ny * kBlockColumns, 0.0);
    std::fill(k, k + 2 * ny * kBlockColumns, 0.0);
    for (std::int64_t y = 0; y < height; ++y)
      std::copy_n(spectrum + y * stride + 2 * first, 2 * count, s + 2 * y * kBlockColumns);
    for (std::int64_t r = 0; r < kernel_count; ++r)
      std::copy_n(kernel.get() + r * stride + 2 * first, 2 * count, k + 2 * kernel_rows[r] * kBlockColumns);
    fftw_execute_dft(columns_forward.get(), sources.get(), sources.get());
    fftw_execute_dft(columns_forward.get(), kernel_block.get(), kernel_block.get());
    for (std::int64_t i = 0; i < ny * kBlockColumns; ++i) {
      const std::complex<double> product = std::complex<double>(s[2 * i], s[2 * i + 1]) *
                                           std::complex<double>(k[2 * i], k[2 * i + 1]);
      s[2 * i] = product.real();
      s[2 * i + 1] = product.imag();
    }
    fftw_execute_dft(columns_backward.get(), sources.get(), sources.get());
    for (std::int64_t y = 0; y < height; ++y)
      std::copy_n(s + 2 * y * kBlockColumns, 2 * count, spectrum + y * stride + 2 * first);
    scratch.give_back(std::move(kernel_block));
    scratch.give_back(std::move(sources));
  });
  kernel.reset();

  // Round-off of the transforms leaves ~1e-13 where no ray reaches; such a pixel
  // must come out exactly untouched.
  constexpr double kRoundOff = 1e-10;
  const double scale = 1.0 / (static_cast<double>(nx) * static_cast<double>(ny));
  pass(tasks_of(height), [&](std::int64_t k) {
    for (std::int64_t y = k * kTaskRows; y < std::min((k + 1) * kTaskRows, height); ++y) {
      double* row = spectrum + y * stride;
      fftw_execute_dft_c2r(rows_backward.get(), complex_row(row), row);
      for (std::int64_t x = 0; x < width; ++x) {
        const double v = row[x] * scale;
        row[x] = std::fabs(v) < kRoundOff ? 0.0 : v;
      }
    }
  });
  return result;
}

}  // namespace orvex
