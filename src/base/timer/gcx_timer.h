#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "base/timer/timer_target.h"
#include "platform/dispatch/executor.h"
#include "platform/dispatch/timer_source.h"

namespace vistrelle {

// Named timer tasks: a block fired after a start delay and then at an
// interval, once or repeatedly, on the main queue or on the global queue, and
// cancelled by the text id it was given.  Ids are never reused, so a stale id
// kept by a caller can never cancel someone else's task.
class GCXTimer {
 public:
  using Task = std::function<void()>;
  using TaskWithId = std::function<void(const std::string& identifier)>;

  GCXTimer(dispatch::ExecutorPtr mainQueue, dispatch::ExecutorPtr globalQueue);
  ~GCXTimer();
  GCXTimer(const GCXTimer&) = delete;
  GCXTimer& operator=(const GCXTimer&) = delete;

  // The process' registry on the runtime's main and global queues.
  static GCXTimer& shared();

  // Longest start delay or repeat interval accepted, in seconds (30 days):
  // beyond it a task is more likely a unit mistake than a plan.
  static constexpr double kMaxSeconds = 30.0 * 24 * 60 * 60;

  // Class-level calls on the shared registry.  The empty id means refused: no
  // task, a start that is negative, not a number or beyond kMaxSeconds, or a
  // repeating task whose interval is not positive or beyond kMaxSeconds.
  static std::string execTask(Task task, double start, double interval, bool repeats, bool async) {
    return shared().start(std::move(task), start, interval, repeats, async);
  }
  static std::string execTask2(TaskWithId task, double start, double interval, bool repeats,
                               bool async) {
    return shared().startWithId(std::move(task), start, interval, repeats, async);
  }
  static std::optional<std::string> execTarget(std::shared_ptr<TimerTarget> target,
                                               const std::string& selector, double start,
                                               double interval, bool repeats, bool async) {
    return shared().startTarget(std::move(target), selector, start, interval, repeats, async);
  }
  static void cancelTimerTask(const std::string& identifier) { shared().cancel(identifier); }

  // The same on this registry.
  std::string start(Task task, double start, double interval, bool repeats, bool async);
  std::string startWithId(TaskWithId task, double start, double interval, bool repeats, bool async);
  std::optional<std::string> startTarget(std::shared_ptr<TimerTarget> target,
                                         const std::string& selector, double start, double interval,
                                         bool repeats, bool async);
  // Unknown or empty ids are ignored; safe from inside the task itself.
  void cancel(const std::string& identifier);

  bool isLive(const std::string& identifier) const;
  size_t liveCount() const;

 private:
  mutable std::mutex mutex_;
  const dispatch::ExecutorPtr mainQueue_;
  const dispatch::ExecutorPtr globalQueue_;
  std::map<std::string, dispatch::TimerSourcePtr> tasks_;
  size_t nextId_ = 0;
};

}  // namespace vistrelle
