#include "platform/dispatch/io_source.h"

#include <sys/ioctl.h>

#include "platform/dispatch/event_loop.h"

namespace vistrelle::dispatch {

IoSource::IoSource(std::shared_ptr<EventLoopLink> link, int fd, IoKind kind, ExecutorPtr queue)
    : link_(std::move(link)), fd_(fd), kind_(kind), queue_(std::move(queue)) {}

void IoSource::removeFromLoop() {
  std::shared_lock lock(link_->mutex);
  if (link_->loop) link_->loop->removeSource(slot_, generation_, kind_);
}

void IoSource::updateLoopInterest() {
  std::shared_lock lock(link_->mutex);
  if (link_->loop) link_->loop->updateInterest(slot_, generation_);
}

IoSource::~IoSource() {
  if (!cancelled_.load(std::memory_order_acquire)) {
    removeFromLoop();
  }
}

void IoSource::setEventHandler(std::function<void()> handler) {
  std::lock_guard lock(mutex_);
  eventHandler_ = std::move(handler);
}

void IoSource::setCancelHandler(std::function<void()> handler) {
  std::lock_guard lock(mutex_);
  cancelHandler_ = std::move(handler);
}

void IoSource::resume() {
  bool arm = false;
  {
    std::lock_guard lock(mutex_);
    if (suspendCount_ == 0 || isCancelled()) return;
    if (--suspendCount_ == 0 && !inFlight_ && !armed_) {
      armed_ = true;
      arm = true;
    }
  }
  if (arm) updateLoopInterest();
}

void IoSource::suspend() {
  // An armed registration stays; an event that arrives meanwhile is dropped on
  // delivery and the level-triggered condition is seen again after resume().
  std::lock_guard lock(mutex_);
  ++suspendCount_;
}

void IoSource::cancel() {
  std::function<void()> onCancel;
  bool handlerRunning;
  {
    std::lock_guard lock(mutex_);
    if (cancelled_.exchange(true, std::memory_order_acq_rel)) return;
    armed_ = false;
    // A running event handler may still use the descriptor that the cancel
    // handler closes: on a concurrent queue nothing else orders the two, so
    // the delivery hands it on when the handler returns.
    handlerRunning = running_;
    if (!handlerRunning) {
      onCancel = std::move(cancelHandler_);
      cancelHandler_ = nullptr;
    }
  }
  removeFromLoop();
  if (!handlerRunning) postCancelHandler(std::move(onCancel));
}

void IoSource::postCancelHandler(std::function<void()> onCancel) {
  // Queued after any delivery already posted, so on a serial queue the cancel
  // handler is the last thing this source runs.
  auto self = shared_from_this();
  auto finish = [self, onCancel = std::move(onCancel)] {
    {
      std::lock_guard lock(self->mutex_);
      self->eventHandler_ = nullptr;
    }
    if (onCancel) onCancel();
  };
  // Once the queue's threads have stopped, nothing delivers any more and
  // nothing would run a post: the owner's clean-up (closing the descriptor)
  // runs here instead of being lost.
  if (queue_->isStopped()) {
    finish();
    return;
  }
  queue_->post(std::move(finish));
}

void IoSource::schedule(uint32_t events) {
  {
    std::lock_guard lock(mutex_);
    if (isCancelled() || !armed_ || inFlight_) return;
    armed_ = false;
    inFlight_ = true;
  }
  auto self = shared_from_this();
  queue_->post([self, events] {
    self->events_ = events;
    self->deliver();
  });
}

unsigned long IoSource::data() const {
  if (kind_ != IoKind::Read) return 0;
  int available = 0;
  return ioctl(fd_, FIONREAD, &available) == 0 && available > 0
             ? static_cast<unsigned long>(available)
             : 0;
}

void IoSource::deliver() {
  std::function<void()> handler;
  {
    std::lock_guard lock(mutex_);
    if (isCancelled() || suspendCount_ > 0) {
      inFlight_ = false;
      return;
    }
    handler = eventHandler_;
    running_ = true;
  }
  if (handler) handler();
  bool arm = false;
  bool cancelledMeanwhile;
  std::function<void()> onCancel;
  {
    std::lock_guard lock(mutex_);
    inFlight_ = false;
    running_ = false;
    cancelledMeanwhile = isCancelled();
    if (cancelledMeanwhile) {
      onCancel = std::move(cancelHandler_);
      cancelHandler_ = nullptr;
    } else if (suspendCount_ == 0 && !armed_) {
      armed_ = true;
      arm = true;
    }
  }
  if (cancelledMeanwhile) {
    postCancelHandler(std::move(onCancel));
  } else if (arm) {
    updateLoopInterest();
  }
}

}  // namespace vistrelle::dispatch
