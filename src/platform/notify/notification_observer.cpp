#include "platform/notify/notification_observer.h"

#include <algorithm>

namespace vistrelle {

NotificationObserver::NotificationObserver(std::string name, dispatch::ExecutorPtr queue,
                                           NotificationHandler handler)
    : name_(std::move(name)), queue_(std::move(queue)), handler_(std::move(handler)) {}

void NotificationObserver::deliver(const Notification& notification) {
  const auto self = std::this_thread::get_id();
  {
    std::lock_guard lock(mutex_);
    if (!active_) return;
    delivering_.push_back(self);
  }
  struct Finish {
    NotificationObserver& observer;
    std::thread::id thread;
    ~Finish() {
      {
        std::lock_guard lock(observer.mutex_);
        auto& list = observer.delivering_;
        list.erase(std::find(list.begin(), list.end(), thread));
      }
      observer.finished_.notify_all();
    }
  } finish{*this, self};
  handler_(notification);
}

void NotificationObserver::deactivate() {
  const auto self = std::this_thread::get_id();
  std::unique_lock lock(mutex_);
  active_ = false;
  finished_.wait(lock, [&] {
    return std::all_of(delivering_.begin(), delivering_.end(),
                       [&](std::thread::id thread) { return thread == self; });
  });
}

bool NotificationObserver::active() const {
  std::lock_guard lock(mutex_);
  return active_;
}

}  // namespace vistrelle
