#include "platform/dispatch/thread_pool.h"

#include <condition_variable>
#include <deque>
#include <future>

#include "platform/dispatch/deadline_queue.h"
#include "platform/dispatch/post_after_stop.h"

namespace vistrelle::dispatch {

// What the workers share.  Held by the pool and by every worker, so that a
// worker that outlives its pool (the pool was destroyed by one of its own
// tasks) still finds it.
struct ThreadPool::Core {
  explicit Core(std::string name, size_t workers) : label(std::move(name)), live(workers) {}

  const std::string label;
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<Task> tasks;
  DeadlineQueue timers;
  bool stopping = false;
  size_t idle = 0;
  size_t live;  // workers that have not left
};

namespace {
thread_local const void* currentPool = nullptr;
}

ThreadPool::ThreadPool(size_t workers, std::string label)
    : workerCount_(workers == 0 ? 1 : workers),
      core_(std::make_shared<Core>(std::move(label), workerCount_)) {
  threads_.reserve(workerCount_);
  for (size_t i = 0; i < workerCount_; ++i) {
    threads_.emplace_back([core = core_] { work(core); });
    workerIds_.push_back(threads_.back().get_id());
  }
}

ThreadPool::~ThreadPool() {
  stop();
  if (!onWorker()) return;  // stop() joined every worker
  for (size_t i = 0; i < threads_.size(); ++i) {
    if (!threads_[i].joinable()) continue;
    if (workerIds_[i] == std::this_thread::get_id()) {
      threads_[i].detach();
    } else {
      threads_[i].join();
    }
  }
}

void ThreadPool::stop() {
  {
    std::lock_guard lock(core_->mutex);
    core_->stopping = true;
  }
  core_->ready.notify_all();
  // A worker must not wait here: another thread's stop may be joining it.
  if (onWorker()) return;
  std::lock_guard join(joinMutex_);
  for (auto& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
}

bool ThreadPool::onWorker() const {
  const auto self = std::this_thread::get_id();
  for (const auto& id : workerIds_) {
    if (id == self) return true;
  }
  return false;
}

bool ThreadPool::stopped() const {
  std::lock_guard lock(core_->mutex);
  return core_->live == 0;
}

const std::string& ThreadPool::label() const {
  return core_->label;
}

void ThreadPool::post(Task task) {
  if (!tryPost(std::move(task))) reportPostAfterStop(core_->label);
}

bool ThreadPool::tryPost(Task task) {
  bool wakeOne;
  {
    std::unique_lock lock(core_->mutex);
    if (core_->live == 0) {
      lock.unlock();
      return false;  // the task and its captures go here, outside the lock
    }
    core_->tasks.push_back(std::move(task));
    wakeOne = core_->idle > 0;
  }
  if (wakeOne) core_->ready.notify_one();
  return true;
}

DelayedTask ThreadPool::postAt(TimePoint deadline, Task task) {
  auto [handle, guarded] = DelayedTask::guard(std::move(task));
  bool wake;
  {
    std::unique_lock lock(core_->mutex);
    if (core_->live == 0) {
      lock.unlock();
      handle.cancel();
      reportPostAfterStop(core_->label);
      return handle;
    }
    wake = core_->timers.push(deadline, std::move(guarded), handle);
  }
  // An idle worker sleeps until the earliest deadline; a new earliest one must
  // shorten that sleep.
  if (wake) core_->ready.notify_one();
  return handle;
}

TimePoint ThreadPool::now() const {
  return SteadyClock::monotonicNow();
}

bool ThreadPool::isCurrent() const {
  return currentPool == core_.get();
}

void ThreadPool::sync(Task task) {
  if (isCurrent()) {
    task();
    return;
  }
  std::promise<void> done;
  auto finished = done.get_future();
  const bool posted = tryPost([&] {
    try {
      task();
      done.set_value();
    } catch (...) {
      done.set_exception(std::current_exception());
    }
  });
  if (!posted) {
    task();  // the workers have left: nothing else would ever run it
    return;
  }
  finished.get();
}

void ThreadPool::work(const std::shared_ptr<Core>& core) {
  currentPool = core.get();
  std::unique_lock lock(core->mutex);
  for (;;) {
    // Due deadlines join the queue on the worker that woke for them, so a
    // delayed task costs one wake-up, not a hand-off from another thread.
    if (!core->timers.empty()) {
      const TimePoint now = SteadyClock::monotonicNow();
      Task due;
      while (core->timers.popDue(now, due)) core->tasks.push_back(std::move(due));
    }
    if (core->tasks.empty()) {
      if (core->stopping) break;
      ++core->idle;
      if (core->timers.empty()) {
        core->ready.wait(lock);
      } else {
        // steady_clock is CLOCK_MONOTONIC, the clock of every deadline.
        const std::chrono::steady_clock::time_point until(
            std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                core->timers.earliest()));
        core->ready.wait_until(lock, until);
      }
      --core->idle;
      continue;
    }
    Task task = std::move(core->tasks.front());
    core->tasks.pop_front();
    lock.unlock();
    task();
    // Captures go before the lock is taken again: they may post.
    task = nullptr;
    lock.lock();
  }
  // The last worker out closes the pool.  Deadlines still to come are dropped
  // now: their tasks may hold serial queues that hold the pool.
  DeadlineQueue dropped;
  if (--core->live == 0) dropped.swap(core->timers);
  lock.unlock();
  currentPool = nullptr;
}

}  // namespace vistrelle::dispatch
