#include "bench/platform/raw_queue.h"

#include <chrono>

namespace vistrelle::bench {

namespace {
// libstdc++'s steady_clock is CLOCK_MONOTONIC, the runtime's clock.
std::chrono::steady_clock::time_point toSteady(dispatch::TimePoint deadline) {
  return std::chrono::steady_clock::time_point(
      std::chrono::duration_cast<std::chrono::steady_clock::duration>(deadline));
}
}  // namespace

RawQueue::RawQueue() : thread_([this] { run(); }) {}

RawQueue::~RawQueue() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  ready_.notify_one();
  thread_.join();
}

void RawQueue::post(Task task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  ready_.notify_one();
}

void RawQueue::postAt(dispatch::TimePoint deadline, Task task) {
  {
    std::lock_guard lock(mutex_);
    timed_.push(Timed{deadline, sequence_++, std::move(task)});
  }
  ready_.notify_one();
}

void RawQueue::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (!timed_.empty() && timed_.top().deadline <= dispatch::SteadyClock::monotonicNow()) {
      Task task = std::move(const_cast<Timed&>(timed_.top()).task);
      timed_.pop();
      lock.unlock();
      task();
      lock.lock();
      continue;
    }
    if (!tasks_.empty()) {
      Task task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      task();
      lock.lock();
      continue;
    }
    if (stopping_) return;
    if (timed_.empty()) {
      ready_.wait(lock);
    } else {
      ready_.wait_until(lock, toSteady(timed_.top().deadline));
    }
  }
}

}  // namespace vistrelle::bench
