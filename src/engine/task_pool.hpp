// Running independent tasks on the process's worker threads while the calling thread waits.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

namespace orvex {

// Raised when a caller asked a render to stop before it was done.
struct Cancelled {};

struct TaskRun {
  int threads = 1;
  // Called on the calling thread after each finished task, in completion order: the only
  // place where a host may be told about progress.
  std::function<void(std::int64_t done, std::int64_t total)> on_done;
  // Set from elsewhere to stop handing out tasks; run_tasks then throws Cancelled.
  const std::atomic<bool>* cancel = nullptr;
  // One of several workers takes no new task while on_done runs, so that work done there
  // (handing results to a host process) has a core of its own instead of sharing it.
  bool spare_core_for_on_done = false;
};

// Lowers the calling thread's priority below that of the thread that started it, where the
// system allows it (on Linux a thread has its own nice value). Workers call it first: the thread
// that started them may be handing their results to the host meanwhile, and starved of the
// processor it would fall behind them. On an idle machine workers still get every free core.
void lower_worker_priority() noexcept;

// The workers the process keeps, one per core, started at the first call that needs them:
// the most any call gets.
int pool_workers();

// Runs task(0) .. task(count - 1), each once, on up to `run.threads` of the process's workers,
// which run below the priority of the thread that first needed them. The first exception a task
// throws stops the handing out of further tasks and is rethrown here once every worker has left
// the call. Calls from several threads share the workers. A task that calls run_tasks itself
// runs those tasks one after another on its own thread (a worker never waits for another).
void run_tasks(std::int64_t count, const TaskRun& run, const std::function<void(std::int64_t)>& task);

// Calls body(begin, end) for up to `threads` contiguous chunks of [0, count).
void parallel_chunks(std::int64_t count, int threads,
                     const std::function<void(std::int64_t begin, std::int64_t end)>& body);

}  // namespace orvex
