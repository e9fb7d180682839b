#include "platform/dispatch/thread_pool.h"

namespace vistrelle::dispatch {

namespace {
thread_local const ThreadPool* currentPool = nullptr;
}

ThreadPool::ThreadPool(size_t workers, std::string label) : label_(std::move(label)) {
  if (workers == 0) workers = 1;
  threads_.reserve(workers);
  for (size_t i = 0; i < workers; ++i) threads_.emplace_back([this] { work(); });
}

ThreadPool::~ThreadPool() {
  stop();
}

void ThreadPool::stop() {
  {
    std::lock_guard lock(mutex_);
    if (stopping_ && threads_.empty()) return;
    stopping_ = true;
  }
  ready_.notify_all();
  for (auto& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
  threads_.clear();
  // Deadlines still to come are dropped.  Their tasks may hold the serial
  // queues that hold this pool, so they must go now, not with the pool.
  decltype(timers_) dropped;
  {
    std::lock_guard lock(mutex_);
    dropped.swap(timers_);
  }
}

void ThreadPool::post(Task task) {
  bool wakeOne;
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
    wakeOne = idle_ > 0;
  }
  if (wakeOne) ready_.notify_one();
}

DelayedTask ThreadPool::postAt(TimePoint deadline, Task task) {
  auto [handle, guarded] = DelayedTask::guard(std::move(task));
  bool wake;
  {
    std::lock_guard lock(mutex_);
    wake = timers_.empty() || deadline < timers_.top().deadline;
    timers_.push(Timer{deadline, timerSequence_++, std::move(guarded)});
  }
  // An idle worker sleeps until the earliest deadline; a new earliest one must
  // shorten that sleep.
  if (wake) ready_.notify_one();
  return handle;
}

TimePoint ThreadPool::now() const {
  return SteadyClock::monotonicNow();
}

bool ThreadPool::isCurrent() const {
  return currentPool == this;
}

void ThreadPool::work() {
  currentPool = this;
  std::unique_lock lock(mutex_);
  for (;;) {
    // Due deadlines join the queue on the worker that woke for them, so a
    // delayed task costs one wake-up, not a hand-off from another thread.
    if (!timers_.empty()) {
      const TimePoint now = SteadyClock::monotonicNow();
      while (!timers_.empty() && timers_.top().deadline <= now) {
        tasks_.push_back(std::move(const_cast<Timer&>(timers_.top()).task));
        timers_.pop();
      }
    }
    if (tasks_.empty()) {
      if (stopping_) break;
      ++idle_;
      if (timers_.empty()) {
        ready_.wait(lock);
      } else {
        // steady_clock is CLOCK_MONOTONIC, the clock of every deadline.
        const std::chrono::steady_clock::time_point until(
            std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                timers_.top().deadline));
        ready_.wait_until(lock, until);
      }
      --idle_;
      continue;
    }
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    lock.unlock();
    task();
    lock.lock();
  }
  currentPool = nullptr;
}

}  // namespace vistrelle::dispatch
