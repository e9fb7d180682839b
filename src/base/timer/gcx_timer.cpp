#include "base/timer/gcx_timer.h"

#include <chrono>

#include "platform/dispatch/runtime.h"

namespace vistrelle {

namespace {
dispatch::Nanos seconds(double value) {
  return std::chrono::duration_cast<dispatch::Nanos>(std::chrono::duration<double>(value));
}
}  // namespace

GCXTimer::GCXTimer(dispatch::ExecutorPtr mainQueue, dispatch::ExecutorPtr globalQueue)
    : mainQueue_(std::move(mainQueue)), globalQueue_(std::move(globalQueue)) {}

GCXTimer::~GCXTimer() {
  std::lock_guard lock(mutex_);
  for (auto& [identifier, source] : tasks_) source->cancel();
}

GCXTimer& GCXTimer::shared() {
  static GCXTimer* registry = new GCXTimer(dispatch::mainQueue(), dispatch::globalQueue());
  return *registry;
}

std::string GCXTimer::start(Task task, double start, double interval, bool repeats, bool async) {
  if (!task) return "";
  return startWithId([task = std::move(task)](const std::string&) { task(); }, start, interval,
                     repeats, async);
}

std::string GCXTimer::startWithId(TaskWithId task, double start, double interval, bool repeats,
                                  bool async) {
  // The bounds also keep the conversion to nanoseconds in range.
  if (!task || !(start >= 0 && start <= kMaxSeconds) ||
      (repeats && !(interval > 0 && interval <= kMaxSeconds))) {
    return "";
  }
  const dispatch::ExecutorPtr& queue = async ? globalQueue_ : mainQueue_;
  auto source = dispatch::TimerSource::create(queue);
  std::string identifier;
  {
    std::lock_guard lock(mutex_);
    identifier = std::to_string(nextId_++);
    tasks_[identifier] = source;
  }
  source->setEventHandler([this, identifier, task = std::move(task), repeats] {
    task(identifier);
    if (!repeats) cancel(identifier);
  });
  source->setTimer(queue->now() + seconds(start), repeats ? seconds(interval) : dispatch::Nanos(0));
  source->resume();
  return identifier;
}

std::optional<std::string> GCXTimer::startTarget(std::shared_ptr<TimerTarget> target,
                                                 const std::string& selector, double start,
                                                 double interval, bool repeats, bool async) {
  if (!target || selector.empty()) return std::nullopt;
  return this->start(
      [target = std::move(target), selector] {
        if (target->respondsToSelector(selector)) target->performSelector(selector);
      },
      start, interval, repeats, async);
}

void GCXTimer::cancel(const std::string& identifier) {
  if (identifier.empty()) return;
  dispatch::TimerSourcePtr source;
  {
    std::lock_guard lock(mutex_);
    auto found = tasks_.find(identifier);
    if (found == tasks_.end()) return;
    source = std::move(found->second);
    tasks_.erase(found);
  }
  source->cancel();
}

bool GCXTimer::isLive(const std::string& identifier) const {
  std::lock_guard lock(mutex_);
  return tasks_.count(identifier) > 0;
}

size_t GCXTimer::liveCount() const {
  std::lock_guard lock(mutex_);
  return tasks_.size();
}

}  // namespace vistrelle
