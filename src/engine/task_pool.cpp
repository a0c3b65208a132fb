#include "engine/task_pool.hpp"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#ifdef __linux__
#include <sys/resource.h>
#endif

namespace orvex {

namespace {

// Set on the pool's own threads: a task that calls run_tasks runs the inner tasks itself, as a
// worker waiting for other workers could leave none to do them.
thread_local bool on_pool_worker = false;

bool cancelled(const TaskRun& run) {
  return run.cancel && run.cancel->load(std::memory_order_relaxed);
}

// One run_tasks call, on its caller's stack: listed in the pool while workers may join it.
struct Batch {
  Batch(std::int64_t task_count, const TaskRun& task_run, const std::function<void(std::int64_t)>& body,
        int most_workers)
      : count(task_count), run(task_run), task(body), threads(most_workers),
        slot_taken(static_cast<std::size_t>(most_workers)) {}

  bool open() const { return !error && !stopped && next < count; }
  bool stands_aside(int slot) const { return run.spare_core_for_on_done && slot > 0 && slot == threads - 1; }
  // The place a joining worker takes, or -1.
  int free_slot() const {
    const auto free = std::find(slot_taken.begin(), slot_taken.end(), false);
    if (free == slot_taken.end()) return -1;
    const auto slot = static_cast<int>(free - slot_taken.begin());
    return caller_busy && stands_aside(slot) ? -1 : slot;
  }

  const std::int64_t count;
  const TaskRun& run;
  const std::function<void(std::int64_t)>& task;
  const int threads;
  std::vector<bool> slot_taken;  // one place per worker; the last place stands aside during on_done
  int workers = 0;
  std::int64_t next = 0;
  std::int64_t done = 0;
  bool caller_busy = false;  // in on_done
  bool stopped = false;      // a worker saw the cancel
  std::exception_ptr error;
};

void run_inline(std::int64_t count, const TaskRun& run, const std::function<void(std::int64_t)>& task) {
  for (std::int64_t index = 0; index < count; ++index) {
    if (cancelled(run)) throw Cancelled{};
    task(index);
    if (run.on_done) run.on_done(index + 1, count);
  }
}

class WorkerPool {
 public:
  static WorkerPool& instance() {
    // Never destroyed, its workers never joined: a dialog's cancelled preview job, which nobody
    // waits for, may still be using them while the process exits.
    static WorkerPool* const pool =
        new WorkerPool(static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
    return *pool;
  }

  int size() const { return size_; }
  void run(std::int64_t count, const TaskRun& run, const std::function<void(std::int64_t)>& task);

 private:
  explicit WorkerPool(int workers);
  void serve();
  Batch* choose(Batch* current, int slot);

  std::mutex mutex_;
  std::condition_variable work_;      // idle workers wait here
  std::condition_variable progress_;  // callers wait here
  std::vector<Batch*> batches_;       // oldest first
  int size_ = 0;
};

WorkerPool::WorkerPool(int workers) {
  for (int t = 0; t < workers; ++t) {
    try {
      std::thread([this] { serve(); }).detach();
    } catch (const std::system_error&) {
      break;  // fewer workers; with none, callers run their tasks themselves
    }
    ++size_;
  }
}

// The batch to take the next task from: the current one, unless another has no worker while this
// one has others (so that a caller behind a long batch gets a worker within a task).
Batch* WorkerPool::choose(Batch* current, int slot) {
  Batch* best = nullptr;
  for (Batch* batch : batches_) {
    if (!batch->stopped && cancelled(batch->run)) {
      batch->stopped = true;
      progress_.notify_all();
    }
    if (batch == current || !batch->open() || batch->free_slot() < 0) continue;
    if (!best || batch->workers < best->workers) best = batch;
  }
  const bool can_stay = current && current->open() && !(current->caller_busy && current->stands_aside(slot));
  if (can_stay && !(best && best->workers == 0 && current->workers > 1)) return current;
  return best;
}

void WorkerPool::serve() {
  on_pool_worker = true;
  lower_worker_priority();
  std::unique_lock lock(mutex_);
  Batch* batch = nullptr;
  int slot = 0;
  for (;;) {
    Batch* const next = choose(batch, slot);
    if (next != batch) {
      if (batch) {
        batch->slot_taken[static_cast<std::size_t>(slot)] = false;
        --batch->workers;
        progress_.notify_all();
        if (batch->open()) work_.notify_all();  // its place is free again
      }
      batch = next;
      if (batch) {
        slot = batch->free_slot();
        batch->slot_taken[static_cast<std::size_t>(slot)] = true;
        ++batch->workers;
      }
    }
    if (!batch) {
      work_.wait(lock);
      continue;
    }
    const std::int64_t index = batch->next++;
    lock.unlock();
    std::exception_ptr failure;
    try {
      batch->task(index);
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    if (!failure) ++batch->done;
    else if (!batch->error) batch->error = failure;
    progress_.notify_all();
  }
}

void WorkerPool::run(std::int64_t count, const TaskRun& run, const std::function<void(std::int64_t)>& task) {
  const std::int64_t most = std::min<std::int64_t>(count, size_);
  Batch batch(count, run, task, static_cast<int>(std::clamp<std::int64_t>(run.threads, 1, most)));
  std::unique_lock lock(mutex_);
  batches_.push_back(&batch);
  work_.notify_all();
  // Cancelling is seen by the workers: a call ends only once no worker is inside it.
  const auto finished = [&] { return batch.workers == 0 && !batch.open(); };
  std::int64_t reported = 0;
  for (;;) {
    // After a failure nothing more is reported: only the workers' leaving is awaited.
    progress_.wait(lock, [&] { return finished() || (batch.done > reported && !batch.error); });
    while (reported < batch.done && !batch.error) {
      const std::int64_t now = ++reported;
      if (!run.on_done) continue;
      batch.caller_busy = true;
      lock.unlock();
      std::exception_ptr failure;
      try {
        run.on_done(now, count);
      } catch (...) {
        failure = std::current_exception();
      }
      lock.lock();
      batch.caller_busy = false;
      if (run.spare_core_for_on_done) work_.notify_all();
      if (failure && !batch.error) batch.error = failure;
    }
    if (finished()) break;
  }
  std::erase(batches_, &batch);
  lock.unlock();
  if (batch.error) std::rethrow_exception(batch.error);
  if (batch.done < count) throw Cancelled{};
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

int pool_workers() { return WorkerPool::instance().size(); }

void run_tasks(std::int64_t count, const TaskRun& run, const std::function<void(std::int64_t)>& task) {
  if (count <= 0) return;
  if (on_pool_worker || pool_workers() == 0) {
    run_inline(count, run, task);
    return;
  }
  WorkerPool::instance().run(count, run, task);
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
