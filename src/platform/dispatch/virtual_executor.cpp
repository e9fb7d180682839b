#include "platform/dispatch/virtual_executor.h"

namespace vistrelle::dispatch {

VirtualExecutor::VirtualExecutor(std::string label, TimePoint start)
    : label_(std::move(label)), owner_(std::this_thread::get_id()), now_(start) {}

void VirtualExecutor::post(Task task) {
  std::lock_guard lock(mutex_);
  timers_.push(now_, std::move(task));
}

DelayedTask VirtualExecutor::postAt(TimePoint deadline, Task task) {
  auto [handle, guarded] = DelayedTask::guard(std::move(task));
  std::lock_guard lock(mutex_);
  timers_.push(std::max(deadline, now_), std::move(guarded), handle);
  return handle;
}

TimePoint VirtualExecutor::now() const {
  std::lock_guard lock(mutex_);
  return now_;
}

bool VirtualExecutor::isCurrent() const {
  return std::this_thread::get_id() == owner_;
}

bool VirtualExecutor::runOne() {
  Task task;
  {
    std::lock_guard lock(mutex_);
    if (!timers_.popDue(now_, task)) return false;
  }
  task();
  return true;
}

size_t VirtualExecutor::runUntilIdle() {
  size_t ran = 0;
  while (runOne()) ++ran;
  return ran;
}

size_t VirtualExecutor::advanceTo(TimePoint target) {
  size_t ran = runUntilIdle();
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (timers_.empty() || timers_.earliest() > target) {
        if (target > now_) now_ = target;
        break;
      }
      now_ = std::max(now_, timers_.earliest());
    }
    ran += runUntilIdle();
  }
  return ran + runUntilIdle();
}

size_t VirtualExecutor::advanceBy(Nanos delta) {
  return advanceTo(now() + delta);
}

TimePoint VirtualExecutor::nextDeadline() const {
  std::lock_guard lock(mutex_);
  return timers_.empty() ? TimePoint(-1) : timers_.earliest();
}

size_t VirtualExecutor::pendingCount() const {
  std::lock_guard lock(mutex_);
  return timers_.size();
}

int VirtualExecutor::run() {
  for (;;) {
    runUntilIdle();
    std::lock_guard lock(mutex_);
    if (quit_ || timers_.empty()) {
      quit_ = false;
      return status_;
    }
    now_ = std::max(now_, timers_.earliest());
  }
}

void VirtualExecutor::quit(int status) {
  std::lock_guard lock(mutex_);
  quit_ = true;
  status_ = status;
}

}  // namespace vistrelle::dispatch
