#include "engine/task_pool.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <new>
#include <thread>
#include <vector>

namespace orvex {
namespace {

TEST(TaskPool, ProgressComesOnTheCallingThreadOncePerTaskInOrder) {
  std::vector<std::int64_t> reported;
  std::atomic<int> ran{0};
  const auto caller = std::this_thread::get_id();
  TaskRun run{3, [&](std::int64_t done, std::int64_t total) {
                EXPECT_EQ(std::this_thread::get_id(), caller);
                EXPECT_EQ(total, 12);
                reported.push_back(done);
              },
              nullptr};
  run_tasks(12, run, [&](std::int64_t) { ++ran; });
  EXPECT_EQ(ran, 12);
  ASSERT_EQ(reported.size(), 12u);
  for (std::size_t i = 0; i < 12; ++i) EXPECT_EQ(reported[i], static_cast<std::int64_t>(i + 1));
}

TEST(TaskPool, AFailedAllocationInAWorkerReachesTheCaller) {
  std::atomic<int> started{0};
  EXPECT_THROW(run_tasks(1000, TaskRun{2, {}, nullptr},
                         [&](std::int64_t i) {
                           ++started;
                           if (i == 3) throw std::bad_alloc();
                           std::this_thread::sleep_for(std::chrono::microseconds(200));
                         }),
               std::bad_alloc);
  EXPECT_LT(started, 1000) << "no new tasks after the failure";
}

TEST(TaskPool, ACancelledRunStopsAndSaysSo) {
  std::atomic<bool> cancel{false};
  EXPECT_THROW(run_tasks(1000, TaskRun{2, {}, &cancel}, [&](std::int64_t i) { if (i == 5) cancel = true; }),
               Cancelled);
}

}  // namespace
}  // namespace orvex
