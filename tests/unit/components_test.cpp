// The engine's building blocks: settings, ray profiles and paths, per-channel rays, the task pool.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

#include "engine/channel_rays.hpp"
#include "engine/filter_settings.hpp"
#include "engine/ray_path.hpp"
#include "engine/ray_profile.hpp"
#include "engine/task_pool.hpp"

namespace orvex {
namespace {

TEST(Settings, OutOfRangeValuesTakeTheirBoundOrDefault) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::tuple<const char*, double, double> edges[] = {  // name, given, clamped
      {"brightness", 0.5, 1},       {"brightness", 150, 100},  {"brightness", NAN, 50},
      {"threshold", -5, 0},         {"threshold", 600, 511},   {"threshold_type", 3, 0},
      {"threshold_type", -1, 0},    {"angle", -10, 0},         {"angle", 400, 359},
      {"angle", 359, 359},          {"line_type", 0, 1},       {"line_type", 7, 4},
      {"s_extent", 0, 1},           {"s_amp", 0, 1},           {"s_density", 0, 0},
      {"h0_extent", -inf, 1},       {"s_dephasing", inf, 100}, {"h1_extent", NAN, 7},
  };
  for (const auto& [name, given, clamped] : edges) {
    const SettingDescriptor& descriptor = *find_setting(name);
    FilterSettings raw = default_settings();
    if (descriptor.kind == SettingKind::real) raw.*descriptor.real_field = given;
    else raw.*descriptor.integer_field = static_cast<std::int32_t>(given);
    EXPECT_EQ(setting_value(ClampedSettings(raw).values(), descriptor), clamped) << name << " " << given;
    EXPECT_EQ(setting_value(ClampedSettings().with(descriptor, given).values(), descriptor), clamped)
        << "edit " << name;
  }
}

TEST(Settings, AnEditChangesOnlyItsOwnFieldAndRoundsWholeNumbers) {
  const ClampedSettings edited = ClampedSettings().with(*find_setting("threshold-type"), 2)
                                     .with(*find_setting("threshold"), 200.6)
                                     .with(*find_setting("line_type"), 1e300);
  FilterSettings want = default_settings();
  want.threshold_type = 2; want.threshold = 201; want.line_type = 4;
  EXPECT_TRUE(edited == ClampedSettings(want));
  EXPECT_FALSE(edited == ClampedSettings());
  EXPECT_EQ(find_setting("no-such-setting"), nullptr);
}

TEST(Settings, OnlyStoredRecordsOfTheRightSizeLoad) {
  FilterSettings stored = default_settings();
  stored.threshold = 120;
  stored.s_amp = 1e9;  // damaged: loads clamped
  const auto bytes = std::as_bytes(std::span(&stored, 1));
  FilterSettings want = stored;
  want.s_amp = 100;
  EXPECT_EQ(settings_from_record(bytes), ClampedSettings(want));
  EXPECT_FALSE(settings_from_record(bytes.first(40)));
  EXPECT_FALSE(settings_from_record(std::vector<std::byte>(200)));
}

RayProfile profile(int channel, std::int64_t width, std::int64_t height,
                   const FilterSettings& s = default_settings()) {
  return build_ray_profile(width, height, 0.0, profile_shape(s, channel));
}

TEST(RayProfile, DefaultsGiveTheKnownIntensities) {
  const RayProfile red = profile(0, 300, 200);
  ASSERT_EQ(red.count(), 1200);  // 4 x the larger side
  EXPECT_EQ(red.values[0], 1.0);
  EXPECT_NEAR(red.values[2], 0.499, 5e-4);
  EXPECT_NEAR(red.values[4], 0.494, 5e-4);
  EXPECT_NEAR(red.values[200], -0.050, 5e-4);
  const double at_ten[] = {0.379, 0.381, 0.383};  // the channels ring apart
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(profile(c, 300, 200).values[20], at_ten[c], 5e-4) << c;
  for (std::int64_t k = 0; k < red.count() / 2; ++k)
    ASSERT_EQ(std::memcmp(&red.values[2 * k], &red.values[2 * k + 1], sizeof(double)), 0) << k;
}

TEST(RayProfile, ZeroDensitiesLeaveOnlyTheSourceAndNoDephasingOneProfile) {
  FilterSettings s = default_settings();
  s.h0_density = s.h1_density = s.s_density = 0;
  const RayProfile flat = profile(1, 50, 50, s);
  for (std::int64_t i = 2; i < flat.count(); ++i) ASSERT_EQ(flat.values[i], 0.0) << i;
  s = default_settings();
  s.s_dephasing = 0;
  EXPECT_EQ(profile(0, 80, 60, s).values, profile(2, 80, 60, s).values);
}

using Offsets = std::vector<std::pair<int, int>>;

Offsets traced(double angle, std::int64_t width = 10, std::int64_t height = 6) {
  Offsets out;
  for (const RayPoint& p : trace_ray_path(width, height, angle, profile(0, width, height)))
    out.emplace_back(p.dx, p.dy);
  return out;
}

TEST(RayPath, WorkedPathsAndWeightsInATenBySixRegion) {
  const Offsets row = {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0}, {7, 0}, {8, 0}, {9, 0}};
  const Offsets column = {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 4}, {0, 5}};
  const Offsets diagonal = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}};
  const std::pair<double, Offsets> rows[] = {
      {0, row}, {180, row}, {359, row}, {90, column}, {270, column}, {45, diagonal}, {225, diagonal},
      {30, {{0, 0}, {1, 1}, {2, 1}, {3, 2}, {4, 2}, {5, 3}, {6, 3}, {7, 4}, {8, 5}, {9, 5}}},
      {60, {{0, 0}, {1, 1}, {1, 2}, {2, 3}, {2, 4}, {3, 5}}},
      {120, {{0, 0}, {-1, 1}, {-1, 2}, {-2, 3}, {-2, 4}, {-3, 5}}},
      {135, {{0, 0}, {1, -1}, {2, -2}, {3, -3}, {4, -4}, {5, -5}}},
      {494, {{0, 0}, {-1, 1}, {-2, 2}, {-3, 3}, {-4, 4}, {-5, 5}}},
  };
  for (const auto& [angle, expected] : rows) EXPECT_EQ(traced(angle), expected) << angle;
  EXPECT_EQ(traced(0, 1, 5), (Offsets{{0, 0}}));
  EXPECT_EQ(traced(90, 1, 4), (Offsets{{0, 0}, {0, 1}, {0, 2}, {0, 3}}));
  EXPECT_TRUE(traced(30, 0, 5).empty());
  EXPECT_TRUE(traced(30, 5, 0).empty());
  // The weights lag one point behind their distance.
  const RayProfile p = profile(0, 10, 6);
  const RayPath path = trace_ray_path(10, 6, 45, p);
  const double weights[] = {1.0, 1.0, p.values[2], p.values[4], p.values[8], p.values[10]};
  ASSERT_EQ(path.size(), 6u);
  for (std::size_t n = 0; n < 6; ++n) EXPECT_DOUBLE_EQ(path[n].weight, weights[n]) << n;
}

TEST(ChannelRays, DirectionsSplitByOrientationAndTailsAreTrimmed) {
  const ClampedSettings s = ClampedSettings().with(*find_setting("line_type"), 4).with(*find_setting("angle"), 30);
  const std::vector<ChannelRays> rays = build_channel_rays(s, 4000, 3000, 3);
  ASSERT_EQ(rays.size(), 3u);
  EXPECT_EQ(rays[0].slot_count, 4);
  EXPECT_EQ(rays[0].row_paths.size(), 2u);  // 30 and 165 (= -15) are shallow
  EXPECT_EQ(rays[0].column_paths.size(), 2u);
  // The spectrum's envelope ends the default rays near 700 pixels, not at the layer's edge.
  const std::vector<double>& kept = rays[0].row_paths[0].weights;
  EXPECT_GT(kept.size(), 500u);
  EXPECT_LT(kept.size(), 900u);
  EXPECT_GE(std::fabs(kept.back()), kNegligibleWeight);
}

TEST(TaskPool, ProgressComesOnTheCallingThreadOncePerTaskInOrder) {
  std::vector<std::int64_t> reported;
  std::atomic<int> ran{0};
  const auto caller = std::this_thread::get_id();
  run_tasks(12, TaskRun{3, [&](std::int64_t done, std::int64_t total) {
              EXPECT_EQ(std::this_thread::get_id(), caller);
              EXPECT_EQ(total, 12);
              reported.push_back(done);
            }}, [&](std::int64_t) { ++ran; });
  EXPECT_EQ(ran, 12);
  EXPECT_EQ(reported, (std::vector<std::int64_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
}

// The caller hands results to the host while the workers run: they must not starve it.
TEST(TaskPool, WorkersRunBelowTheCallersPriority) {
  const int caller = getpriority(PRIO_PROCESS, 0);
  ASSERT_LT(caller, 19) << "run the tests at a priority that can be lowered";
  std::mutex mutex;
  std::vector<int> workers;
  run_tasks(4, TaskRun{2, {}, nullptr}, [&](std::int64_t) {
    const int nice = getpriority(PRIO_PROCESS, 0);
    const std::lock_guard lock(mutex);
    workers.push_back(nice);
  });
  for (const int nice : workers) EXPECT_GT(nice, caller);
  EXPECT_EQ(getpriority(PRIO_PROCESS, 0), caller) << "the caller keeps its own";
}

// While the caller reports a task (a host takes its rows meanwhile), one of two workers starts
// no task: at most the one it took just before the report began.
TEST(TaskPool, OneWorkerLeavesTheCallerACoreWhileItReports) {
  std::mutex mutex;
  bool reporting = false;
  std::map<std::thread::id, int> started_while_reporting;
  int most_by_the_quieter_worker = 0;
  std::atomic<int> ran{0};
  const auto report = [&](std::int64_t, std::int64_t) {
    {
      const std::lock_guard lock(mutex);
      started_while_reporting.clear();
      reporting = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const std::lock_guard lock(mutex);
    reporting = false;
    if (started_while_reporting.size() == 2) {
      const int quieter = std::min(started_while_reporting.begin()->second, started_while_reporting.rbegin()->second);
      most_by_the_quieter_worker = std::max(most_by_the_quieter_worker, quieter);
    }
  };
  run_tasks(60, TaskRun{2, report, nullptr, true}, [&](std::int64_t) {
    {
      const std::lock_guard lock(mutex);
      if (reporting) ++started_while_reporting[std::this_thread::get_id()];
    }
    ++ran;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  });
  EXPECT_EQ(ran, 60);
  EXPECT_LE(most_by_the_quieter_worker, 1);
}

TEST(TaskPool, AFailureOrACancelInAWorkerStopsTheRunAndReachesTheCaller) {
  std::atomic<int> started{0};
  EXPECT_THROW(run_tasks(1000, TaskRun{2, {}, nullptr},
                         [&](std::int64_t i) {
                           ++started;
                           if (i == 3) throw std::bad_alloc();
                           std::this_thread::sleep_for(std::chrono::microseconds(200));
                         }),
               std::bad_alloc);
  EXPECT_LT(started, 1000) << "no new tasks after the failure";
  // No task after the sixth ends before the cancel: a busy machine that holds up the cancelling
  // worker cannot let the other one finish the whole run first.
  std::atomic<bool> cancel{false};
  const auto cancel_at_five = [&](std::int64_t i) {
    if (i == 5) cancel = true;
    while (i > 5 && !cancel) std::this_thread::yield();
  };
  EXPECT_THROW(run_tasks(1000, TaskRun{2, {}, &cancel}, cancel_at_five), Cancelled);
}

// A preview asks for several runs per keystroke: the same workers serve them all (kernel thread
// ids, which are not reused soon), and a task may run tasks of its own.
TEST(TaskPool, TheSameWorkersServeEveryCallAndTasksWithinTasks) {
  std::mutex mutex;
  std::set<pid_t> workers;
  std::atomic<int> inner{0};
  for (int call = 0; call < 10; ++call)
    run_tasks(4, TaskRun{2, {}, nullptr}, [&](std::int64_t) {
      run_tasks(3, TaskRun{2, {}, nullptr}, [&](std::int64_t) { ++inner; });
      const std::lock_guard lock(mutex);
      workers.insert(gettid());
    });
  EXPECT_EQ(inner, 120);
  EXPECT_LE(workers.size(), static_cast<std::size_t>(pool_workers()));
}

}  // namespace
}  // namespace orvex
