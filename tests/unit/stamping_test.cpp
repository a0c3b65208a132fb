#include "render/engine/stamping.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <random>
#include <vector>

#include "plain_stamping.hpp"
#include "render/engine/fft_convolution.hpp"
#include "render/engine/render_region.hpp"

namespace orvex {
namespace {

ChannelPlanes reference_accumulation(const FilterSettings& s, const ChannelPlanes& src, int bpp,
                                     const std::vector<RayPathSet>& paths) {
  return orvex_testing::plain_accumulation(s, src, bpp, paths);
}

ChannelPlanes random_source(std::mt19937& rng, int bpp, std::int64_t w, std::int64_t h,
                            double bright_share) {
  ChannelPlanes src = alloc_planes(bpp, w, h);
  std::uniform_real_distribution<double> u(0, 1);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int c = 0; c < bpp; ++c)
    for (double& v : src.planes[c]) v = (u(rng) < bright_share ? 255 : byte(rng) / 3) / 255.0;
  return src;
}

ChannelPlanes run(const FilterSettings& s, const ChannelPlanes& src, int bpp, int threads,
                  StampMethod method = StampMethod::direct) {
  const auto paths = build_channel_paths(s, src.width, src.height, colour_count(bpp));
  return accumulate_rays(s, src, bpp, paths, StampOptions{threads, {}, method});
}

void expect_close(const ChannelPlanes& got, const ChannelPlanes& want, const std::string& what) {
  ASSERT_EQ(got.count(), want.count()) << what;
  for (int c = 0; c < got.count(); ++c)
    for (std::int64_t i = 0; i < got.pixel_count(); ++i) {
      const double g = got.plane(c)[i], w = want.plane(c)[i];
      ASSERT_NEAR(g, w, 1e-9 * std::max(1.0, std::fabs(w))) << what << " channel " << c << " index " << i;
      if (w == 0.0) {
        ASSERT_EQ(g, 0.0) << what;  // nothing reached it: exactly nothing
      }
    }
}

struct Shape {
  int bpp;
  std::int64_t width;
  std::int64_t height;
};

TEST(Stamping, MatchesPlainStampingForEveryDirectionAndThreadCount) {
  std::mt19937 rng(1234);
  const Shape shapes[] = {{3, 23, 17}, {1, 9, 31}, {4, 16, 16}, {2, 1, 12}, {3, 12, 1}, {1, 1, 1}};
  const double angles[] = {0, 30, 45, 46, 60, 90, 120, 135, 200, 300, 359};
  for (const Shape& shape : shapes) {
    const ChannelPlanes src = random_source(rng, shape.bpp, shape.width, shape.height, 0.1);
    for (int line_type = 1; line_type <= 4; ++line_type) {
      for (double angle : angles) {
        FilterSettings s = default_settings();
        s.line_type = line_type;
        s.angle = angle;
        s.threshold = 200;
        s.threshold_type = static_cast<int>(angle) % 3;
        s.s_density = 60;
        const std::string what = "bpp " + std::to_string(shape.bpp) + " " + std::to_string(shape.width) +
                                 "x" + std::to_string(shape.height) + " line " +
                                 std::to_string(line_type) + " angle " + std::to_string(angle);
        const auto paths = build_channel_paths(s, src.width, src.height, colour_count(shape.bpp));
        const ChannelPlanes want = reference_accumulation(s, src, shape.bpp, paths);
        expect_close(run(s, src, shape.bpp, 1), want, what + " 1 thread");
        expect_close(run(s, src, shape.bpp, 2), want, what + " 2 threads");
        expect_close(run(s, src, shape.bpp, 2, StampMethod::convolution), want, what + " convolution");
      }
    }
  }
}

TEST(Stamping, ResultIsBitIdenticalWhateverTheThreadCount) {
  std::mt19937 rng(99);
  const ChannelPlanes src = random_source(rng, 3, 64, 48, 0.2);
  FilterSettings s = default_settings();
  s.line_type = 4;
  s.angle = 17;
  s.threshold = 100;
  const ChannelPlanes one = run(s, src, 3, 1);
  for (int threads : {2, 3, 8}) {
    const ChannelPlanes many = run(s, src, 3, threads);
    for (int c = 0; c < 3; ++c) ASSERT_EQ(many.planes[c], one.planes[c]) << threads;
  }
  EXPECT_EQ(run(s, src, 3, 2).planes, run(s, src, 3, 2).planes);
}

TEST(Stamping, SourcePixelReceivesThreeTimesItsValuePerDirection) {
  ChannelPlanes src = alloc_planes(1, 9, 9);
  src.plane(0)[4 * 9 + 4] = 0.5;
  FilterSettings s = default_settings();
  s.threshold = 100;
  s.line_type = 4;
  const ChannelPlanes acc = run(s, src, 1, 2);
  EXPECT_DOUBLE_EQ(acc.plane(0)[4 * 9 + 4], 12 * 0.5);
}

TEST(Stamping, CornerSourceKeepsTheHalfThatFallsInside) {
  ChannelPlanes src = alloc_planes(1, 6, 6);
  src.plane(0)[0] = 1.0;
  FilterSettings s = default_settings();
  s.threshold = 250;
  s.line_type = 1;
  s.angle = 45;
  const auto paths = build_channel_paths(s, 6, 6, 1);
  const ChannelPlanes acc = run(s, src, 1, 1);
  const RayPath& path = *paths[0].slots[0];
  EXPECT_DOUBLE_EQ(acc.plane(0)[0], 3.0);
  for (int n = 1; n < 6; ++n) EXPECT_DOUBLE_EQ(acc.plane(0)[n * 6 + n], path[n].weight) << n;
  EXPECT_EQ(acc.plane(0)[1], 0.0);
}

TEST(Stamping, ThresholdLevels) {
  EXPECT_EQ(threshold_level(0), 0.0);
  EXPECT_EQ(threshold_level(255), 1.0);
  EXPECT_NEAR(threshold_level(256), 1.0 / 255, 1e-15);
  EXPECT_DOUBLE_EQ(threshold_level(510), 1.0);
  EXPECT_GT(threshold_level(511), 1.0);
}

TEST(Stamping, SourceSelectionFollowsTheThresholdType) {
  ChannelPlanes red = alloc_planes(3, 1, 1);
  red.plane(0)[0] = 1.0;  // a pure red pixel
  FilterSettings s = default_settings();
  s.threshold_type = 1;
  s.threshold = 200;
  for (int c = 0; c < 3; ++c) EXPECT_EQ(collect_sources(red, 3, s, c).size(), 0) << c;
  s.threshold = 80;
  EXPECT_EQ(collect_sources(red, 3, s, 0).size(), 1);
  EXPECT_EQ(collect_sources(red, 3, s, 1).size(), 0);  // passes, but stamps its own value 0
  ChannelPlanes white = alloc_planes(4, 1, 1);
  for (int c = 0; c < 3; ++c) white.plane(c)[0] = 1.0;
  white.plane(3)[0] = 0.0;  // alpha never enters the test
  for (int type = 0; type < 3; ++type) {
    s.threshold_type = type;
    s.threshold = 255;
    for (int c = 0; c < 3; ++c) EXPECT_EQ(collect_sources(white, 4, s, c).size(), 1);
  }
  ChannelPlanes gray = alloc_planes(3, 1, 1);
  for (int c = 0; c < 3; ++c) gray.plane(c)[0] = 200 / 255.0;
  s.threshold = 200;  // a gray exactly at the threshold passes under every type
  for (int type = 0; type < 3; ++type) {
    s.threshold_type = type;
    EXPECT_EQ(collect_sources(gray, 3, s, 1).size(), 1) << type;
  }
  s.threshold = 511;
  EXPECT_EQ(collect_sources(white, 4, s, 0).size(), 0);
}

TEST(Stamping, ThresholdZeroStillSkipsDarkPixels) {
  ChannelPlanes gray = alloc_planes(1, 3, 1);
  gray.plane(0)[1] = 0.25;
  FilterSettings s = default_settings();
  s.threshold = 0;
  const SourceList list = collect_sources(gray, 1, s, 0);
  ASSERT_EQ(list.size(), 1);
  EXPECT_EQ(list.position[0], 1);
  EXPECT_EQ(list.value[0], 0.25);
}

TEST(Stamping, ProgressReportsEveryTaskOnce) {
  std::mt19937 rng(5);
  const ChannelPlanes src = random_source(rng, 3, 20, 40, 0.05);
  FilterSettings s = default_settings();
  std::vector<double> fractions;
  StampOptions options{4, [&](double f) { fractions.push_back(f); }};
  accumulate_rays(s, src, 3, build_channel_paths(s, 20, 40, 3), options);
  ASSERT_EQ(fractions.size(), 12u);  // 3 channels x 4 bands
  std::sort(fractions.begin(), fractions.end());
  for (int k = 0; k < 12; ++k) EXPECT_DOUBLE_EQ(fractions[k], (k + 1) / 12.0);
}

}  // namespace
}  // namespace orvex

namespace orvex {
namespace {

TEST(OrientedPath, RunsGroupPointsOfEqualMinorOffsetAndTailsTrim) {
  const RayPath steep = {{0, 0, 1.0}, {0, 1, 1.0}, {1, 2, 0.5}, {1, 3, 1e-20}, {2, 4, 0.0}};
  ASSERT_EQ(orientation_of(steep), PathOrientation::along_columns);
  OrientedPath oriented = orient_path(steep);
  ASSERT_EQ(oriented.runs.size(), 3u);
  EXPECT_EQ(oriented.runs[1].minor, 1);
  EXPECT_EQ(oriented.runs[1].first, 2);
  EXPECT_EQ(oriented.runs[1].last, 3);
  trim_negligible_tail(oriented);
  EXPECT_EQ(oriented.weights.size(), 3u);
  ASSERT_EQ(oriented.runs.size(), 2u);
  EXPECT_EQ(oriented.runs[1].last, 2);
  const RayPath shallow = {{0, 0, 1.0}, {1, 0, 1.0}, {2, -1, 0.3}};
  EXPECT_EQ(orientation_of(shallow), PathOrientation::along_rows);
  EXPECT_EQ(orient_path(shallow).runs.back().minor, -1);
}

}  // namespace
}  // namespace orvex

namespace orvex {
namespace {

TEST(Convolution, DenseSourcesOnALargerImageMatchDirectStamping) {
  std::mt19937 rng(31);
  ChannelPlanes src = alloc_planes(3, 150, 110);
  std::uniform_int_distribution<int> byte(0, 255);
  for (auto& plane : src.planes)
    for (double& v : plane) v = byte(rng) / 255.0;
  for (int line_type : {1, 4}) {
    FilterSettings s = default_settings();
    s.threshold = 128;
    s.line_type = line_type;
    s.angle = 33;
    s.s_extent = 90;  // long rays: nothing trims
    const ChannelPlanes direct = run(s, src, 3, 2, StampMethod::direct);
    const ChannelPlanes convolved = run(s, src, 3, 2, StampMethod::convolution);
    for (int c = 0; c < 3; ++c)
      for (std::int64_t i = 0; i < src.pixel_count(); ++i)
        ASSERT_NEAR(convolved.plane(c)[i], direct.plane(c)[i],
                    1e-9 * std::max(1.0, std::fabs(direct.plane(c)[i])))
            << "line " << line_type << " channel " << c << " index " << i;
  }
}

TEST(Convolution, PixelsNoRayReachesStayExactlyZero) {
  ChannelPlanes src = alloc_planes(1, 40, 30);
  src.plane(0)[10 * 40 + 20] = 1.0;
  FilterSettings s = default_settings();
  s.line_type = 2;
  const ChannelPlanes acc = run(s, src, 1, 1, StampMethod::convolution);
  for (std::int64_t y = 0; y < 30; ++y)
    for (std::int64_t x = 0; x < 40; ++x)
      if (x != 20 && y != 10) {
        ASSERT_EQ(acc.plane(0)[y * 40 + x], 0.0) << x << "," << y;
      }
  EXPECT_NEAR(acc.plane(0)[10 * 40 + 20], 6.0, 1e-12);
}

TEST(Convolution, CostModelPrefersTransformsForDenseSourcesOnly) {
  const auto plan_for = [](double share) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> u(0, 1);
    ChannelPlanes src = alloc_planes(1, 400, 300);
    for (double& v : src.planes[0]) v = u(rng) < share ? 1.0 : 0.0;
    FilterSettings s = default_settings();
    s.line_type = 4;
    s.s_extent = 100;
    const auto paths = build_channel_paths(s, 400, 300, 1);
    ChannelStampPlan plan;
    plan.slot_count = 4;
    for (const auto& slot : paths[0].slots) {
      OrientedPath p = orient_path(*slot);
      (orientation_of(*slot) == PathOrientation::along_rows ? plan.row_paths : plan.column_paths)
          .push_back(p);
    }
    plan.by_row = collect_sources(src, 1, s, 0);
    return plan;
  };
  const ChannelStampPlan dense = plan_for(0.5);
  const ChannelStampPlan sparse = plan_for(0.0005);
  EXPECT_LT(convolution_cost(400, 300, dense), direct_cost(dense));
  EXPECT_GT(convolution_cost(400, 300, sparse), direct_cost(sparse));
  const ConvolutionSize size = convolution_size(400, 300, kernel_reach(dense));
  EXPECT_GE(size.width, 400 + 399);
  EXPECT_GE(size.height, 300 + 299);
}

}  // namespace
}  // namespace orvex
