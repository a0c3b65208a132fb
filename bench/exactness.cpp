// How far the fast paths (trimmed ray tails, destination bands, FFT convolution) are
// from plain ray-by-ray stamping, in output bytes, on generated photo-like images.
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "plain_stamping.hpp"
#include "render/engine/blend.hpp"
#include "render/engine/render_region.hpp"
#include "test_images.hpp"

namespace {

using namespace orvex;

struct Case {
  std::string name;
  std::int64_t width;
  std::int64_t height;
  double share;
  int level;
  FilterSettings settings;
};

FilterSettings with(int threshold, int line_type, double angle, double s_extent = 25) {
  FilterSettings s = default_settings();
  s.threshold = threshold;
  s.line_type = line_type;
  s.angle = angle;
  s.s_extent = s_extent;
  return s;
}

}  // namespace

int main() {
  const int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  const std::vector<Case> cases = {
      {"sparse 2000x1500, defaults", 2000, 1500, 0.01, 250, default_settings()},
      {"sparse 2000x1500, line 4, angle 30", 2000, 1500, 0.01, 250, with(250, 4, 30)},
      {"dense 800x600, threshold 128, line 4", 800, 600, 0.5, 128, with(128, 4, 10)},
      {"dense 800x600, long rays, line 3", 800, 600, 0.5, 128, with(128, 3, 77, 100)},
  };
  std::printf("%-40s %14s %12s %9s\n", "case", "bytes", "equal", "max diff");
  for (const Case& c : cases) {
    const auto pixels = orvex_bench::scattered_lights(c.width, c.height, 3, c.share, c.level);
    const PixelRegion region{c.width, c.height, 3, pixels};
    RenderHooks hooks;
    hooks.thread_count = threads;
    const std::vector<std::uint8_t> fast = render_region(c.settings, region, {}, hooks);

    FilterSettings s = c.settings;
    clamp_settings(s);
    const auto paths = build_channel_paths(s, c.width, c.height, 3);
    const ChannelPlanes plain =
        orvex_testing::plain_accumulation(s, read_planes(pixels, 3, c.width, c.height), 3, paths);
    std::vector<std::uint8_t> reference(pixels.size());
    blend_to_bytes(s.brightness, pixels, 3, plain, reference);

    std::int64_t equal = 0;
    int max_diff = 0;
    for (std::size_t i = 0; i < fast.size(); ++i) {
      const int diff = std::abs(int{fast[i]} - int{reference[i]});
      equal += diff == 0;
      max_diff = std::max(max_diff, diff);
    }
    std::printf("%-40s %14zu %11.5f%% %9d\n", c.name.c_str(), fast.size(),
                100.0 * static_cast<double>(equal) / static_cast<double>(fast.size()), max_diff);
  }
  return 0;
}
