#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "platform/dispatch/executor.h"

namespace vistrelle::dispatch {

// A timer like a dispatch timer source: created suspended, fires on its queue
// at absolute deadlines of the queue's clock (so a virtual-time executor drives
// it in tests), repeating every `interval` or once.  The handler never runs
// twice at once, even on a concurrent queue: the next deadline is armed when
// it returns, and fires missed while it ran or while the queue was busy are
// coalesced into one.  After cancel() it never fires again, and the cancel
// handler runs once a running event handler has returned.
class TimerSource : public std::enable_shared_from_this<TimerSource> {
 public:
  static std::shared_ptr<TimerSource> create(ExecutorPtr queue);
  ~TimerSource();
  TimerSource(const TimerSource&) = delete;
  TimerSource& operator=(const TimerSource&) = delete;

  void setEventHandler(std::function<void()> handler);
  void setCancelHandler(std::function<void()> handler);
  // First fire at `start`, then every `interval`; an interval of zero or less
  // fires once.
  void setTimer(TimePoint start, Nanos interval);

  void resume();
  void suspend();
  void cancel();
  bool isCancelled() const;

  const ExecutorPtr& queue() const { return queue_; }

 private:
  explicit TimerSource(ExecutorPtr queue);
  void arm();  // mutex_ held
  void fire(uint64_t generation);

  const ExecutorPtr queue_;
  mutable std::mutex mutex_;
  std::function<void()> eventHandler_;
  std::function<void()> cancelHandler_;
  TimePoint deadline_{0};
  Nanos interval_{0};
  bool configured_ = false;
  bool cancelled_ = false;
  bool pending_ = false;       // fired while suspended
  bool done_ = false;          // a one-shot that has fired
  bool running_ = false;       // the event handler runs now
  bool reconfigured_ = false;  // setTimer() while it ran
  int suspendCount_ = 1;
  uint64_t generation_ = 0;
  DelayedTask scheduled_;
};

using TimerSourcePtr = std::shared_ptr<TimerSource>;

}  // namespace vistrelle::dispatch
