// What the dialog's preview leaves to other threads: one job at a time, cancelled inside the
// transforms, never waited for.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <random>
#include <thread>

#include "engine/preview_renderer.hpp"
#include "engine/task_pool.hpp"

namespace orvex {
namespace {

// Grey noise: threshold 128 makes half of the pixels sources, which only the FFT takes in time.
PixelBuffer dense_layer(std::int64_t width, std::int64_t height) {
  PixelBuffer layer(PixelLayout{width, height, 1});
  std::mt19937 rng(5);
  for (std::byte& sample : layer.bytes) sample = static_cast<std::byte>(rng() & 255);
  return layer;
}

ClampedSettings dense(double angle) {
  const ClampedSettings s = ClampedSettings().with(*find_setting("threshold"), 128);
  return s.with(*find_setting("line_type"), 4).with(*find_setting("angle"), angle);
}

TEST(Convolution, ACancelDuringTheTransformsStopsThem) {
  const PixelBuffer layer = dense_layer(300, 200);
  RayField field(dense(10), collect_sources(dense(10), {layer.view()}, 2), StampMethod::convolution);
  std::atomic<bool> cancel{false};
  RenderOptions options(2);
  options.cancel = &cancel;
  options.progress = [&](double) { cancel = true; };
  EXPECT_THROW(field.convolve(options), Cancelled);
  EXPECT_FALSE(field.convolved(0));
}

TEST(Preview, DenseChangesRunOneJobAtATimeAndClosingNeverWaitsForIt) {
  auto preview = std::make_unique<PreviewRenderer>(dense_layer(1200, 900), std::nullopt, nullptr, 2);
  const std::shared_ptr<const std::atomic<int>> running = preview->running_jobs();
  const Rect view{100, 100, 64, 64};
  for (int angle = 0; angle < 40; angle += 10) {
    EXPECT_FALSE(preview->render(dense(angle), view).exact);
    EXPECT_LE(*running, 1) << angle;
  }
  while (preview->pending())
    if (!preview->poll()) std::this_thread::yield();
  // Closed while its job waits for workers that all hold tasks of this run: the renderer goes,
  // the job runs on, then sees its cancel.
  const int workers = pool_workers();
  std::atomic<int> holding{0};
  std::atomic<bool> closed{false};
  run_tasks(workers, TaskRun{workers, {}, nullptr}, [&](std::int64_t task) {
    for (++holding; holding < workers;) std::this_thread::yield();
    if (task == 0) {
      preview->render(dense(50), view);  // a worker's own runs take no other worker
      while (*running == 0) std::this_thread::yield();
      preview.reset();
      EXPECT_EQ(*running, 1) << "closing waited for the job";
      closed = true;
    }
    while (!closed) std::this_thread::yield();
  });
  while (*running != 0) std::this_thread::yield();
}

}  // namespace
}  // namespace orvex
