#include "platform/dispatch/timer_source.h"

#include <stdexcept>

namespace vistrelle::dispatch {

std::shared_ptr<TimerSource> TimerSource::create(ExecutorPtr queue) {
  if (!queue) throw std::invalid_argument("TimerSource: no queue");
  return std::shared_ptr<TimerSource>(new TimerSource(std::move(queue)));
}

TimerSource::TimerSource(ExecutorPtr queue) : queue_(std::move(queue)) {}

TimerSource::~TimerSource() {
  scheduled_.cancel();
}

void TimerSource::setEventHandler(std::function<void()> handler) {
  std::lock_guard lock(mutex_);
  eventHandler_ = std::move(handler);
}

void TimerSource::setCancelHandler(std::function<void()> handler) {
  std::lock_guard lock(mutex_);
  cancelHandler_ = std::move(handler);
}

void TimerSource::setTimer(TimePoint start, Nanos interval) {
  std::lock_guard lock(mutex_);
  if (cancelled_) return;
  deadline_ = start;
  interval_ = interval;
  configured_ = true;
  done_ = false;
  pending_ = false;
  if (running_) {
    // Armed when the handler returns, so that it never overlaps itself.
    reconfigured_ = true;
    return;
  }
  if (suspendCount_ == 0) arm();
}

void TimerSource::arm() {
  scheduled_.cancel();
  const uint64_t generation = ++generation_;
  std::weak_ptr<TimerSource> weak = weak_from_this();
  scheduled_ = queue_->postAt(deadline_, [weak, generation] {
    if (auto self = weak.lock()) self->fire(generation);
  });
}

void TimerSource::resume() {
  std::lock_guard lock(mutex_);
  if (cancelled_ || suspendCount_ == 0) return;
  if (--suspendCount_ > 0 || !configured_ || done_ || running_) return;
  if (pending_) {
    pending_ = false;
    deadline_ = queue_->now();
  }
  arm();
}

void TimerSource::suspend() {
  std::lock_guard lock(mutex_);
  ++suspendCount_;
}

bool TimerSource::isCancelled() const {
  std::lock_guard lock(mutex_);
  return cancelled_;
}

void TimerSource::cancel() {
  std::function<void()> onCancel;
  {
    std::lock_guard lock(mutex_);
    if (cancelled_) return;
    cancelled_ = true;
    ++generation_;
    scheduled_.cancel();
    eventHandler_ = nullptr;
    // A running handler posts it when it returns.
    if (running_) return;
    onCancel = std::move(cancelHandler_);
  }
  if (onCancel) queue_->post(std::move(onCancel));
}

void TimerSource::fire(uint64_t generation) {
  std::function<void()> handler;
  {
    std::lock_guard lock(mutex_);
    if (cancelled_ || generation != generation_ || running_) return;
    if (suspendCount_ > 0) {
      pending_ = true;
      return;
    }
    if (interval_.count() > 0) {
      // A late fire stands for every deadline it missed.
      const TimePoint now = queue_->now();
      if (deadline_ < now) deadline_ += (now - deadline_) / interval_ * interval_;
    } else {
      done_ = true;
    }
    running_ = true;
    handler = eventHandler_;
  }
  if (handler) handler();
  std::function<void()> onCancel;
  {
    std::lock_guard lock(mutex_);
    running_ = false;
    if (cancelled_) {
      onCancel = std::move(cancelHandler_);
    } else {
      if (reconfigured_) {
        reconfigured_ = false;  // setTimer() chose the next deadline
      } else if (interval_.count() > 0) {
        // Already past when the handler outran its interval: fires at once,
        // one fire for all that came due meanwhile.
        deadline_ += interval_;
      }
      if (configured_ && !done_ && suspendCount_ == 0) arm();
    }
  }
  if (onCancel) queue_->post(std::move(onCancel));
}

}  // namespace vistrelle::dispatch
