#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "platform/dispatch/clock.h"

namespace vistrelle::dispatch {

using Task = std::function<void()>;

// Handle of a task posted for later.  Cancelling is final and race-free: a
// cancelled task never runs, even when its deadline has already passed and it
// is waiting in its queue.
class DelayedTask {
 public:
  DelayedTask() = default;
  explicit DelayedTask(std::shared_ptr<std::atomic<bool>> cancelled)
      : cancelled_(std::move(cancelled)) {}

  void cancel() const {
    if (cancelled_) cancelled_->store(true, std::memory_order_release);
  }
  bool isCancelled() const { return !cancelled_ || cancelled_->load(std::memory_order_acquire); }
  bool valid() const { return cancelled_ != nullptr; }

  // Wraps a task so that it checks the flag at the moment it would run.
  static std::pair<DelayedTask, Task> guard(Task task);

 private:
  std::shared_ptr<std::atomic<bool>> cancelled_;
};

// Where work runs: the main queue, the global queue, a named serial queue, or a
// virtual-time executor in tests.
class Executor : public Clock {
 public:
  ~Executor() override = default;

  virtual void post(Task task) = 0;
  // Runs `task` at or after `deadline` (on this executor's clock).
  virtual DelayedTask postAt(TimePoint deadline, Task task) = 0;
  DelayedTask postAfter(Nanos delay, Task task) { return postAt(now() + delay, std::move(task)); }

  // True while the calling thread is running a task of this executor.
  virtual bool isCurrent() const = 0;

  // Runs `task` on this executor and returns when it has run.  Runs inline when
  // the caller already is on it.
  virtual void sync(Task task);

  virtual const std::string& label() const;
};

using ExecutorPtr = std::shared_ptr<Executor>;

}  // namespace vistrelle::dispatch
