// Engine benchmarks on generated images. Peak memory is reported as the process's
// high-water mark (max RSS) after each benchmark.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <thread>

#include "plugin/filter_settings.hpp"
#include "render/engine/blend.hpp"
#include "render/engine/ray_profile.hpp"
#include "render/engine/render_region.hpp"
#include "test_images.hpp"

namespace {

using namespace orvex;

int threads() { return static_cast<int>(std::max(1u, std::thread::hardware_concurrency())); }

double peak_rss_mb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void render_case(benchmark::State& state, std::int64_t width, std::int64_t height, int bpp,
                 double share, int level, const FilterSettings& settings) {
  const auto pixels = orvex_bench::scattered_lights(width, height, bpp, share, level);
  const PixelRegion region{width, height, bpp, pixels};
  RenderHooks hooks;
  hooks.thread_count = threads();
  for (auto _ : state) benchmark::DoNotOptimize(render_region(settings, region, {}, hooks));
  state.counters["peak_rss_MB"] = peak_rss_mb();
  state.counters["Mpixels"] = static_cast<double>(width * height) / 1e6;
}

// A 12 MP photo at the defaults: about 1% of each channel at or above 250.
void BM_Render_12MP_RGB_Defaults(benchmark::State& state) {
  render_case(state, 4000, 3000, 3, 0.01, 250, default_settings());
}
BENCHMARK(BM_Render_12MP_RGB_Defaults)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_Render_12MP_Gray_Defaults(benchmark::State& state) {
  render_case(state, 4000, 3000, 1, 0.01, 250, default_settings());
}
BENCHMARK(BM_Render_12MP_Gray_Defaults)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// Dense sources: about half of the pixels pass threshold 128, four directions.
void BM_Render_Dense_Threshold128_Line4(benchmark::State& state) {
  FilterSettings s = default_settings();
  s.threshold = 128;
  s.line_type = 4;
  s.angle = 10;
  const auto side = state.range(0);
  render_case(state, side * 4 / 3, side, 3, 0.5, 128, s);
}
BENCHMARK(BM_Render_Dense_Threshold128_Line4)
    ->Arg(750)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

// The two stamping methods on the same dense sources, to calibrate the cost model.
void stamp_method_case(benchmark::State& state, StampMethod method) {
  const std::int64_t w = 800, h = 600;
  const auto pixels = orvex_bench::scattered_lights(w, h, 1, 0.5, 128);
  const ChannelPlanes source = read_planes(pixels, 1, w, h);
  FilterSettings s = default_settings();
  s.threshold = 128;
  s.line_type = 4;
  s.angle = 10;
  const auto paths = build_channel_paths(s, w, h, 1);
  for (auto _ : state)
    benchmark::DoNotOptimize(accumulate_rays(s, source, 1, paths, StampOptions{threads(), {}, method}));
}
void BM_Stamp_Dense_800x600_Direct(benchmark::State& state) { stamp_method_case(state, StampMethod::direct); }
void BM_Stamp_Dense_800x600_Convolution(benchmark::State& state) {
  stamp_method_case(state, StampMethod::convolution);
}
BENCHMARK(BM_Stamp_Dense_800x600_Direct)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_Stamp_Dense_800x600_Convolution)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Render_Preview_512_Defaults(benchmark::State& state) {
  render_case(state, 512, 512, 3, 0.01, 250, default_settings());
}
BENCHMARK(BM_Render_Preview_512_Defaults)->Unit(benchmark::kMillisecond)->UseRealTime();

// Cost growth: sparse renders should grow linearly with the number of sources, dense
// ones (FFT convolution) like N log N in the pixel count.
void BM_Growth_Sparse_Sources(benchmark::State& state) {
  const double share = static_cast<double>(state.range(0)) / 10000.0;
  const auto pixels = orvex_bench::scattered_lights(2000, 1500, 1, share, 250);
  const ChannelPlanes source = read_planes(pixels, 1, 2000, 1500);
  const FilterSettings s = default_settings();
  const auto paths = build_channel_paths(s, 2000, 1500, 1);
  for (auto _ : state)
    benchmark::DoNotOptimize(
        accumulate_rays(s, source, 1, paths, StampOptions{threads(), {}, StampMethod::direct}));
  state.SetComplexityN(static_cast<benchmark::IterationCount>(share * 2000 * 1500));
}
BENCHMARK(BM_Growth_Sparse_Sources)
    ->Arg(50)->Arg(100)->Arg(200)->Arg(400)->Arg(800)
    ->Unit(benchmark::kMillisecond)->UseRealTime()->Complexity(benchmark::oN);

void BM_Growth_Dense_Pixels(benchmark::State& state) {
  FilterSettings s = default_settings();
  s.threshold = 128;
  s.line_type = 4;
  s.angle = 10;
  const std::int64_t side = state.range(0);
  const auto pixels = orvex_bench::scattered_lights(side * 4 / 3, side, 1, 0.5, 128);
  const PixelRegion region{side * 4 / 3, side, 1, pixels};
  RenderHooks hooks;
  hooks.thread_count = threads();
  for (auto _ : state) benchmark::DoNotOptimize(render_region(s, region, {}, hooks));
  state.SetComplexityN(static_cast<benchmark::IterationCount>(side * side * 4 / 3));
}
BENCHMARK(BM_Growth_Dense_Pixels)
    ->Arg(375)->Arg(750)->Arg(1500)->Arg(3000)
    ->Unit(benchmark::kMillisecond)->UseRealTime()->Complexity(benchmark::oNLogN);

void BM_Profiles_And_Paths_12MP(benchmark::State& state) {
  FilterSettings s = default_settings();
  s.line_type = 4;
  for (auto _ : state) benchmark::DoNotOptimize(build_channel_paths(s, 4000, 3000, 3));
}
BENCHMARK(BM_Profiles_And_Paths_12MP)->Unit(benchmark::kMillisecond);

void BM_Blend_12MP_RGB(benchmark::State& state) {
  const auto pixels = orvex_bench::scattered_lights(4000, 3000, 3, 0.01, 250);
  const ChannelPlanes acc = alloc_planes(3, 4000, 3000);
  std::vector<std::uint8_t> out(pixels.size());
  for (auto _ : state) blend_to_bytes(50, pixels, 3, acc, out);
}
BENCHMARK(BM_Blend_12MP_RGB)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
