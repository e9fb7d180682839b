#include "platform/dispatch/delayed_task.h"

#include <atomic>
#include <mutex>

namespace vistrelle::dispatch {

// The task itself belongs to its wrapper, and so to the queue that holds it:
// a handle kept after its queue dropped the task (a pool that stopped) keeps
// nothing alive.
struct DelayedTask::State {
  std::mutex mutex;
  std::atomic<bool> cancelled{false};
  std::weak_ptr<Task> task;
};

void DelayedTask::cancel() const {
  if (!state_) return;
  Task dropped;
  {
    std::lock_guard lock(state_->mutex);
    if (state_->cancelled.exchange(true, std::memory_order_acq_rel)) return;
    if (auto task = state_->task.lock()) {
      dropped = std::move(*task);
      *task = nullptr;
    }
  }
  // The captures go here, outside the lock: their destructors may cancel
  // other handles.
}

bool DelayedTask::isCancelled() const {
  return !state_ || state_->cancelled.load(std::memory_order_acquire);
}

std::pair<DelayedTask, Task> DelayedTask::guard(Task task) {
  auto state = std::make_shared<State>();
  auto owned = std::make_shared<Task>(std::move(task));
  state->task = owned;
  Task wrapped = [state, owned] {
    Task task;
    {
      std::lock_guard lock(state->mutex);
      if (state->cancelled.load(std::memory_order_relaxed)) return;
      task = std::move(*owned);
      *owned = nullptr;
    }
    if (task) task();
  };
  return {DelayedTask(std::move(state)), std::move(wrapped)};
}

}  // namespace vistrelle::dispatch
