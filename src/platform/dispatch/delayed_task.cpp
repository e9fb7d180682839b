#include "platform/dispatch/delayed_task.h"

#include <atomic>
#include <mutex>

namespace vistrelle::dispatch {

struct DelayedTask::State {
  std::mutex mutex;
  std::atomic<bool> cancelled{false};
  Task task;  // until it runs or is cancelled
};

void DelayedTask::cancel() const {
  if (!state_) return;
  Task dropped;
  {
    std::lock_guard lock(state_->mutex);
    if (state_->cancelled.exchange(true, std::memory_order_acq_rel)) return;
    dropped = std::move(state_->task);
    state_->task = nullptr;
  }
  // The captures go here, outside the lock: their destructors may cancel
  // other handles.
}

bool DelayedTask::isCancelled() const {
  return !state_ || state_->cancelled.load(std::memory_order_acquire);
}

std::pair<DelayedTask, Task> DelayedTask::guard(Task task) {
  auto state = std::make_shared<State>();
  state->task = std::move(task);
  Task wrapped = [state] {
    Task task;
    {
      std::lock_guard lock(state->mutex);
      if (state->cancelled.load(std::memory_order_relaxed)) return;
      task = std::move(state->task);
      state->task = nullptr;
    }
    if (task) task();
  };
  return {DelayedTask(std::move(state)), std::move(wrapped)};
}

}  // namespace vistrelle::dispatch
