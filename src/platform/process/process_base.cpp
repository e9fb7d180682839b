#include "platform/process/process_base.h"

#include <signal.h>

namespace vistrelle::process {

void ProcessBase::terminate(dispatch::Nanos grace) {
  if (!running()) return;
  sendSignal(SIGTERM);
  std::weak_ptr<ProcessBase> weak = weak_from_this();
  addTimer(reportQueue_->postAfter(grace, [weak] {
    if (auto self = weak.lock()) self->sendSignal(SIGKILL);
  }));
}

void ProcessBase::kill() {
  if (running()) sendSignal(SIGKILL);
}

void ProcessBase::armTimeLimit(const LaunchRequest& request) {
  if (!request.timeLimit) return;
  std::weak_ptr<ProcessBase> weak = weak_from_this();
  const dispatch::Nanos grace = request.killGrace;
  addTimer(reportQueue_->postAfter(*request.timeLimit, [weak, grace] {
    auto self = weak.lock();
    if (!self || !self->running()) return;
    self->timedOut_.store(true, std::memory_order_release);
    self->terminate(grace);
  }));
}

void ProcessBase::addTimer(dispatch::DelayedTask timer) {
  std::lock_guard lock(mutex_);
  // A timer armed while the end was being marked is dropped here.
  if (!running()) {
    timer.cancel();
    return;
  }
  timers_.push_back(std::move(timer));
}

bool ProcessBase::markEnded() {
  std::vector<dispatch::DelayedTask> timers;
  {
    std::lock_guard lock(mutex_);
    if (ended_.exchange(true, std::memory_order_acq_rel)) return false;
    timers.swap(timers_);
  }
  for (const dispatch::DelayedTask& timer : timers) timer.cancel();
  return true;
}

}  // namespace vistrelle::process
