// How far the fast paths (trimmed ray tails, destination lines, FFT convolution) are from
// plain ray-by-ray stamping, in output bytes, on generated photo-like images.
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "engine/render.hpp"
#include "plain_render.hpp"
#include "test_images.hpp"

namespace {

using namespace orvex;

struct Case {
  std::string name;
  std::int64_t width;
  std::int64_t height;
  double share;
  int level;
  int threshold;
  int line_type;
  double angle;
  double s_extent;
  SampleType type;
};

}  // namespace

int main() {
  const int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  const std::vector<Case> cases = {
      {"sparse 2000x1500, defaults", 2000, 1500, 0.01, 250, 250, 2, 0, 25, SampleType::u8},
      {"sparse 2000x1500, line 4, angle 30", 2000, 1500, 0.01, 250, 250, 4, 30, 25, SampleType::u8},
      {"sparse 2000x1500, 16-bit", 2000, 1500, 0.01, 250, 250, 2, 0, 25, SampleType::u16},
      {"dense 800x600, threshold 128, line 4", 800, 600, 0.5, 128, 128, 4, 10, 25, SampleType::u8},
      {"dense 800x600, long rays, line 3", 800, 600, 0.5, 128, 128, 3, 77, 100, SampleType::u8},
      {"dense 800x600, line 1, angle 20", 800, 600, 0.5, 128, 128, 1, 20, 25, SampleType::u8},
      {"dense 800x600, line 3, angle 130", 800, 600, 0.5, 128, 128, 3, 130, 25, SampleType::u8},
      {"dense 800x600, line 3, angle 200, 16-bit", 800, 600, 0.5, 128, 128, 3, 200, 25, SampleType::u16},
  };
  std::printf("%-40s %14s %12s %9s\n", "case", "samples", "equal", "max diff");
  for (const Case& c : cases) {
    const PixelBuffer layer = orvex_bench::scattered_lights(c.width, c.height, 3, c.share, c.level, c.type);
    FilterSettings raw = default_settings();
    raw.threshold = c.threshold;
    raw.line_type = c.line_type;
    raw.angle = c.angle;
    raw.s_extent = c.s_extent;
    const ClampedSettings s(raw);
    // In place, as the plug-in and orvex-render render.
    PixelBuffer fast = layer;
    RenderOptions options(threads);
    if (c.share >= 0.5) options.method = StampMethod::convolution;  // the dense cases test the FFT
    render_layer(s, {fast.view()}, fast.view(), options);
    const PixelBuffer plain = orvex_testing::plain_render(s, layer.view());
    const std::int64_t samples = layer.layout.pixel_count() * 3;
    std::int64_t equal = 0;
    double largest = 0;
    for (std::int64_t i = 0; i < samples; ++i) {
      const std::byte* a = fast.bytes.data() + i * sample_bytes(c.type);
      const std::byte* b = plain.bytes.data() + i * sample_bytes(c.type);
      const double d = std::abs(unit_value(c.type, a) - unit_value(c.type, b)) * (c.type == SampleType::u8 ? 255 : 65535);
      equal += d == 0;
      largest = std::max(largest, d);
    }
    std::printf("%-40s %14lld %11.5f%% %9g\n", c.name.c_str(), static_cast<long long>(samples),
                100.0 * static_cast<double>(equal) / static_cast<double>(samples), largest);
  }
  return 0;
}
