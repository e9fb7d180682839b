#include "platform/display/linux/timed_gate.h"

namespace vistrelle::display {

TimedGate::Pass TimedGate::enter(Deadline deadline) {
  std::unique_lock lock(mutex_);
  if (!free_.wait_until(lock, deadline, [this] { return !taken_; })) return Pass(nullptr);
  taken_ = true;
  return Pass(this);
}

void TimedGate::leave() {
  {
    std::lock_guard lock(mutex_);
    taken_ = false;
  }
  free_.notify_one();
}

}  // namespace vistrelle::display
