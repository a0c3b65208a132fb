// Running independent tasks on a few worker threads while the calling thread waits.
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
};

// Runs task(0) .. task(count - 1), each once, on up to `run.threads` workers. The first
// exception a task throws stops the handing out of further tasks and is rethrown here
// once every worker has stopped.
void run_tasks(std::int64_t count, const TaskRun& run, const std::function<void(std::int64_t)>& task);

// Calls body(begin, end) for up to `threads` contiguous chunks of [0, count).
void parallel_chunks(std::int64_t count, int threads,
                     const std::function<void(std::int64_t begin, std::int64_t end)>& body);

}  // namespace orvex
