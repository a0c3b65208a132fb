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

namespace orvex {

namespace {

// FFTW's planner is not thread-safe and its thread support is initialised once.
std::mutex& planner_mutex() {
  static std::mutex mutex;
  return mutex;
}

void init_fftw_threads() {
  static std::once_flag once;
  std::call_once(once, [] { fftw_init_threads(); });
}

struct FftwFree {
  void operator()(double* p) const { fftw_free(p); }
};
using FftwBuffer = std::unique_ptr<double[], FftwFree>;

FftwBuffer allocate_zeroed(std::int64_t count) {
  auto* p = static_cast<double*>(fftw_malloc(static_cast<std::size_t>(count) * sizeof(double)));
  if (!p) throw std::bad_alloc();
  std::fill(p, p + count, 0.0);
  return FftwBuffer(p);
}

class Plan {
 public:
  Plan(fftw_plan plan) : plan_(plan) {}
  ~Plan() {
    const std::lock_guard lock(planner_mutex());
    fftw_destroy_plan(plan_);
  }
  Plan(const Plan&) = delete;
  Plan& operator=(const Plan&) = delete;
  void execute() const { fftw_execute(plan_); }

 private:
  fftw_plan plan_;
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

std::vector<double> convolve_channel(const ChannelRays& plan, const SourceList& by_row,
                                     std::int64_t width, std::int64_t height, int thread_count) {
  const ConvolutionSize size = convolution_size(width, height, kernel_reach(plan));
  const std::int64_t nx = size.width;
  const std::int64_t ny = size.height;
  const std::int64_t stride = 2 * (nx / 2 + 1);  // padded rows of an in-place real transform
  const std::int64_t count = ny * stride;
  if (count > std::numeric_limits<int>::max()) throw std::length_error("transform too large");
  FftwBuffer sources = allocate_zeroed(count);
  FftwBuffer kernel = allocate_zeroed(count);

  for (std::int64_t y = 0; y < height; ++y)
    for (std::int64_t k = by_row.row_start[y]; k < by_row.row_start[y + 1]; ++k)
      sources[y * stride + by_row.position[k]] = by_row.value[k];
  const auto wrap = [](std::int64_t v, std::int64_t n) { return ((v % n) + n) % n; };
  kernel[0] = plan.slot_count;  // each direction adds the source's own value once
  for_each_kernel_point(plan, [&](std::int64_t dx, std::int64_t dy, double w) {
    kernel[wrap(dy, ny) * stride + wrap(dx, nx)] += w;
  });

  init_fftw_threads();
  auto* sources_c = reinterpret_cast<fftw_complex*>(sources.get());
  auto* kernel_c = reinterpret_cast<fftw_complex*>(kernel.get());
  std::unique_ptr<Plan> forward_sources, forward_kernel, backward;
  {
    const std::lock_guard lock(planner_mutex());
    fftw_plan_with_nthreads(std::max(1, thread_count));
    const int n0 = static_cast<int>(ny);
    const int n1 = static_cast<int>(nx);
    forward_sources = std::make_unique<Plan>(
        fftw_plan_dft_r2c_2d(n0, n1, sources.get(), sources_c, FFTW_ESTIMATE));
    forward_kernel = std::make_unique<Plan>(
        fftw_plan_dft_r2c_2d(n0, n1, kernel.get(), kernel_c, FFTW_ESTIMATE));
    backward = std::make_unique<Plan>(
        fftw_plan_dft_c2r_2d(n0, n1, sources_c, sources.get(), FFTW_ESTIMATE));
  }
  forward_sources->execute();
  forward_kernel->execute();
  const std::int64_t complex_count = ny * (nx / 2 + 1);
  for (std::int64_t i = 0; i < complex_count; ++i) {
    const std::complex<double> product = std::complex<double>(sources_c[i][0], sources_c[i][1]) *
                                         std::complex<double>(kernel_c[i][0], kernel_c[i][1]);
    sources_c[i][0] = product.real();
    sources_c[i][1] = product.imag();
  }
  kernel.reset();
  backward->execute();

  // Round-off of the transforms leaves ~1e-13 where no ray reaches; such a pixel
  // must come out exactly untouched.
  constexpr double kRoundOff = 1e-10;
  const double scale = 1.0 / (static_cast<double>(nx) * static_cast<double>(ny));
  std::vector<double> accumulation(static_cast<std::size_t>(width * height));
  for (std::int64_t y = 0; y < height; ++y)
    for (std::int64_t x = 0; x < width; ++x) {
      const double v = sources[y * stride + x] * scale;
      accumulation[y * width + x] = std::fabs(v) < kRoundOff ? 0.0 : v;
    }
  return accumulation;
}

}  // namespace orvex
