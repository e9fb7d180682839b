#include "platform/dispatch/executor.h"

#include <future>

namespace vistrelle::dispatch {

std::pair<DelayedTask, Task> DelayedTask::guard(Task task) {
  auto flag = std::make_shared<std::atomic<bool>>(false);
  Task wrapped = [flag, task = std::move(task)] {
    if (!flag->load(std::memory_order_acquire)) task();
  };
  return {DelayedTask(std::move(flag)), std::move(wrapped)};
}

void Executor::sync(Task task) {
  if (isCurrent()) {
    task();
    return;
  }
  std::promise<void> done;
  auto finished = done.get_future();
  post([&] {
    try {
      task();
      done.set_value();
    } catch (...) {
      done.set_exception(std::current_exception());
    }
  });
  finished.get();
}

const std::string& Executor::label() const {
  static const std::string kEmpty;
  return kEmpty;
}

}  // namespace vistrelle::dispatch
