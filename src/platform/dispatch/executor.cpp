#include "platform/dispatch/executor.h"

#include <future>

namespace vistrelle::dispatch {

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
