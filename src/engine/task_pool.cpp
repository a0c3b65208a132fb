#include "engine/task_pool.hpp"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#ifdef __linux__
#include <sys/resource.h>
#endif

namespace orvex {

namespace {

struct SharedState {
  std::mutex mutex;
  std::condition_variable changed;
  std::int64_t next = 0;
  std::int64_t done = 0;
  int workers_left = 0;
  bool caller_busy = false;  // in on_done
  std::exception_ptr error;
};

bool cancelled(const TaskRun& run) {
  return run.cancel && run.cancel->load(std::memory_order_relaxed);
}

// `stands_aside`: takes no new task while the caller is in on_done.
void work(SharedState& state, std::int64_t count, const TaskRun& run, bool stands_aside,
          const std::function<void(std::int64_t)>& task) {
  for (;;) {
    std::int64_t index = 0;
    {
      std::unique_lock lock(state.mutex);
      if (stands_aside) state.changed.wait(lock, [&] { return !state.caller_busy; });
      if (state.error || state.next >= count || cancelled(run)) break;
      index = state.next++;
    }
    try {
      task(index);
    } catch (...) {
      const std::lock_guard lock(state.mutex);
      if (!state.error) state.error = std::current_exception();
      break;
    }
    const std::lock_guard lock(state.mutex);
    ++state.done;
    state.changed.notify_all();
  }
  const std::lock_guard lock(state.mutex);
  --state.workers_left;
  state.changed.notify_all();
}

}  // namespace

void lower_worker_priority() noexcept {
#ifdef __linux__
  // Ten steps, as measured in GIMP: the main thread's hand-over then keeps pace with two workers.
  constexpr int kSteps = 10;
  constexpr int kLowest = 19;
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, 0);  // this thread's own
  if (errno == 0) setpriority(PRIO_PROCESS, 0, std::min(nice + kSteps, kLowest));
#endif
}

void run_tasks(std::int64_t count, const TaskRun& run, const std::function<void(std::int64_t)>& task) {
  if (count <= 0) return;
  SharedState state;
  const int threads = static_cast<int>(std::clamp<std::int64_t>(run.threads, 1, count));
  state.workers_left = threads;
  std::vector<std::jthread> workers;
  workers.reserve(static_cast<std::size_t>(threads));
  try {
    for (int t = 0; t < threads; ++t)
      workers.emplace_back([&, stands_aside = run.spare_core_for_on_done && t > 0 && t == threads - 1] {
        lower_worker_priority();
        work(state, count, run, stands_aside, task);
      });
  } catch (...) {
    // A thread that could not start is one worker less; the others do its share.
    const std::lock_guard lock(state.mutex);
    state.workers_left -= threads - static_cast<int>(workers.size());
    if (workers.empty()) throw;
  }

  std::int64_t reported = 0;
  std::unique_lock lock(state.mutex);
  for (;;) {
    // After a failure nothing more is reported: only the workers' ending is awaited.
    state.changed.wait(lock, [&] {
      return state.workers_left == 0 || (state.done > reported && !state.error);
    });
    while (reported < state.done && !state.error) {
      const std::int64_t now = ++reported;
      if (!run.on_done) continue;
      state.caller_busy = true;
      lock.unlock();
      std::exception_ptr failure;
      try {
        run.on_done(now, count);
      } catch (...) {
        failure = std::current_exception();
      }
      lock.lock();
      state.caller_busy = false;
      state.changed.notify_all();
      if (failure && !state.error) state.error = failure;
    }
    if (state.workers_left == 0) break;
  }
  lock.unlock();
  workers.clear();
  if (state.error) std::rethrow_exception(state.error);
  if (state.done < count) throw Cancelled{};
}

void parallel_chunks(std::int64_t count, int threads,
                     const std::function<void(std::int64_t begin, std::int64_t end)>& body) {
  const std::int64_t chunks = std::clamp<std::int64_t>(threads, 1, std::max<std::int64_t>(count, 1));
  if (chunks == 1) {
    body(0, count);
    return;
  }
  run_tasks(chunks, TaskRun{static_cast<int>(chunks), {}, nullptr}, [&](std::int64_t k) {
    body(k * count / chunks, (k + 1) * count / chunks);
  });
}

}  // namespace orvex
