// Engine benchmarks on generated images. Peak memory is the process's high-water mark
// (max RSS) after each benchmark.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <thread>

#include "engine/fft_convolution.hpp"
#include "engine/preview_renderer.hpp"
#include "engine/render.hpp"
#include "test_images.hpp"

namespace {

using namespace orvex;

int threads() { return static_cast<int>(std::max(1u, std::thread::hardware_concurrency())); }

double peak_rss_mb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

FilterSettings dense_settings() {
  FilterSettings s = default_settings();
  s.threshold = 128;
  s.line_type = 4;
  s.angle = 10;
  return s;
}

void render_case(benchmark::State& state, const PixelBuffer& layer, const FilterSettings& settings,
                 StampMethod method = StampMethod::automatic) {
  PixelBuffer out(layer.layout);
  RenderOptions options(threads());
  options.method = method;
  for (auto _ : state) render_layer(ClampedSettings(settings), {layer.view()}, out.view(), options);
  state.counters["peak_rss_MB"] = peak_rss_mb();
}

// A 12 MP photo at the defaults: about 1% of each channel at or above 250, in each precision.
void BM_Render_12MP_RGB_Defaults(benchmark::State& state) {
  const SampleType types[] = {SampleType::u8, SampleType::u16, SampleType::f32};
  render_case(state, orvex_bench::scattered_lights(4000, 3000, 3, 0.01, 250, types[state.range(0)]),
              default_settings());
}
BENCHMARK(BM_Render_12MP_RGB_Defaults)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_Render_12MP_Gray_Defaults(benchmark::State& state) {
  render_case(state, orvex_bench::scattered_lights(4000, 3000, 1, 0.01, 250), default_settings());
}
BENCHMARK(BM_Render_12MP_Gray_Defaults)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The same photo with four diagonal directions: short runs, one row or column each.
void BM_Render_12MP_RGB_Diagonal(benchmark::State& state) {
  FilterSettings s = default_settings();
  s.line_type = 4;
  s.angle = 30;
  render_case(state, orvex_bench::scattered_lights(4000, 3000, 3, 0.01, 250), s);
}
BENCHMARK(BM_Render_12MP_RGB_Diagonal)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// Dense sources: about half of the pixels pass threshold 128, four directions.
void BM_Render_Dense_Threshold128_Line4(benchmark::State& state) {
  render_case(state, orvex_bench::scattered_lights(1000, 750, 3, 0.5, 128), dense_settings());
}
BENCHMARK(BM_Render_Dense_Threshold128_Line4)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

// Both stamping methods on the same dense sources, to calibrate the cost model.
void BM_Stamp_Dense_800x600(benchmark::State& state) {
  render_case(state, orvex_bench::scattered_lights(800, 600, 1, 0.5, 128), dense_settings(),
              state.range(0) ? StampMethod::convolution : StampMethod::direct);
}
BENCHMARK(BM_Stamp_Dense_800x600)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// The dialog's preview: a 512 x 512 view of a 12 MP photo after a Threshold change (sources
// and rays anew) and after a Brightness change (the blend alone).
void BM_Preview_512_of_12MP(benchmark::State& state) {
  PreviewRenderer preview(orvex_bench::scattered_lights(4000, 3000, 3, 0.01, 250), std::nullopt, {}, threads());
  const bool threshold = state.range(0) == 0;
  const SettingDescriptor& changed = *find_setting(threshold ? "threshold" : "brightness");
  ClampedSettings s;
  int step = 0;
  preview.render(s, {1700, 1200, 512, 512});
  for (auto _ : state)
    benchmark::DoNotOptimize(preview.render(s.with(changed, (threshold ? 245 : 40) + ++step % 10), {1700, 1200, 512, 512}));
}
BENCHMARK(BM_Preview_512_of_12MP)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// Cost growth: sparse renders should grow linearly with the number of sources, dense ones
// (FFT convolution) like N log N in the pixel count.
void BM_Growth_Sparse_Sources(benchmark::State& state) {
  const double share = static_cast<double>(state.range(0)) / 10000.0;
  render_case(state, orvex_bench::scattered_lights(2000, 1500, 1, share, 250), default_settings(), StampMethod::direct);
  state.SetComplexityN(static_cast<benchmark::IterationCount>(share * 2000 * 1500));
}
BENCHMARK(BM_Growth_Sparse_Sources)
    ->Arg(50)->Arg(100)->Arg(200)->Arg(400)->Arg(800)
    ->Unit(benchmark::kMillisecond)->UseRealTime()->Complexity(benchmark::oN);

void BM_Growth_Dense_Pixels(benchmark::State& state) {
  const std::int64_t side = state.range(0);
  render_case(state, orvex_bench::scattered_lights(side * 4 / 3, side, 1, 0.5, 128), dense_settings());
  state.SetComplexityN(static_cast<benchmark::IterationCount>(side * side * 4 / 3));
}
BENCHMARK(BM_Growth_Dense_Pixels)
    ->Arg(375)->Arg(750)->Arg(1500)->Arg(3000)
    ->Unit(benchmark::kMillisecond)->UseRealTime()->Complexity(benchmark::oNLogN);

}  // namespace

BENCHMARK_MAIN();
