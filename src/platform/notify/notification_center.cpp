#include "platform/notify/notification_center.h"

#include <algorithm>
#include <atomic>

namespace vistrelle {

struct NotificationCenter::Observer {
  std::string name;
  dispatch::ExecutorPtr queue;
  NotificationHandler handler;
  std::atomic<bool> active{true};
  // Held while the handler runs, so that cancel() from another thread waits.
  std::recursive_mutex delivering;

  void deliver(const Notification& notification) {
    std::lock_guard lock(delivering);
    if (active.load(std::memory_order_acquire)) handler(notification);
  }
};

struct NotificationCenter::State {
  mutable std::mutex mutex;
  std::vector<std::shared_ptr<Observer>> observers;
};

NotificationCenter::NotificationCenter() : state_(std::make_shared<State>()) {}

NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter() {
  // Never destroyed: observers may outlive static destruction order.
  static NotificationCenter* center = new NotificationCenter();
  return *center;
}

Subscription NotificationCenter::observe(std::string name, dispatch::ExecutorPtr queue,
                                         NotificationHandler handler) {
  auto observer = std::make_shared<Observer>();
  observer->name = std::move(name);
  observer->queue = std::move(queue);
  observer->handler = std::move(handler);
  {
    std::lock_guard lock(state_->mutex);
    state_->observers.push_back(observer);
  }
  return Subscription(state_, std::move(observer));
}

void NotificationCenter::post(std::string name, Value object, Value::Map userInfo) {
  std::vector<std::shared_ptr<Observer>> targets;
  {
    std::lock_guard lock(state_->mutex);
    for (const auto& observer : state_->observers) {
      if (observer->name.empty() || observer->name == name) targets.push_back(observer);
    }
  }
  if (targets.empty()) return;
  auto notification = std::make_shared<const Notification>(
      Notification{std::move(name), std::move(object), std::move(userInfo)});
  for (auto& observer : targets) {
    if (observer->queue) {
      observer->queue->post([observer, notification] { observer->deliver(*notification); });
    } else {
      observer->deliver(*notification);
    }
  }
}

size_t NotificationCenter::observerCount() const {
  std::lock_guard lock(state_->mutex);
  return state_->observers.size();
}

size_t NotificationCenter::observerCount(std::string_view name) const {
  std::lock_guard lock(state_->mutex);
  return static_cast<size_t>(std::count_if(
      state_->observers.begin(), state_->observers.end(),
      [&](const auto& observer) { return observer->name.empty() || observer->name == name; }));
}

void Subscription::cancel() {
  if (!observer_) return;
  observer_->active.store(false, std::memory_order_release);
  if (auto state = state_.lock()) {
    std::lock_guard lock(state->mutex);
    auto& list = state->observers;
    list.erase(std::remove(list.begin(), list.end(), observer_), list.end());
  }
  // Waits for a delivery running on another thread; re-entrant from the handler.
  { std::lock_guard wait(observer_->delivering); }
  observer_.reset();
  state_.reset();
}

bool Subscription::active() const {
  return observer_ && observer_->active.load(std::memory_order_acquire);
}

}  // namespace vistrelle
