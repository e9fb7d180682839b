#pragma once

#include <memory>
#include <utility>

#include "platform/dispatch/task.h"

namespace vistrelle::dispatch {

// Handle of a task posted for later.  Cancelling is final and race-free: a
// cancelled task never runs, even when its deadline has already passed and it
// is waiting in its queue, and what the task captured is released at once, not
// at its old deadline.
class DelayedTask {
 public:
  DelayedTask() = default;

  void cancel() const;
  // True once cancelled, and for an empty handle.
  bool isCancelled() const;
  bool valid() const { return state_ != nullptr; }

  // Wraps a task so that it checks the handle at the moment it would run.
  static std::pair<DelayedTask, Task> guard(Task task);

 private:
  struct State;
  explicit DelayedTask(std::shared_ptr<State> state) : state_(std::move(state)) {}

  std::shared_ptr<State> state_;
};

}  // namespace vistrelle::dispatch
