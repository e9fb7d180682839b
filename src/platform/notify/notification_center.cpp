#include "platform/notify/notification_center.h"

#include "platform/notify/notification_observer.h"
#include "platform/notify/notification_registry.h"

namespace vistrelle {

NotificationCenter::NotificationCenter() : registry_(std::make_shared<NotificationRegistry>()) {}

NotificationCenter::~NotificationCenter() = default;

NotificationCenter& NotificationCenter::defaultCenter() {
  // Never destroyed: observers may outlive static destruction order.
  static NotificationCenter* center = new NotificationCenter();
  return *center;
}

Subscription NotificationCenter::observe(std::string name, dispatch::ExecutorPtr queue,
                                         NotificationHandler handler) {
  auto observer =
      std::make_shared<NotificationObserver>(std::move(name), std::move(queue), std::move(handler));
  registry_->add(observer);
  return Subscription(registry_, std::move(observer));
}

void NotificationCenter::post(std::string name, Value object, Value::Map userInfo) {
  auto targets = registry_->observersOf(name);
  if (targets.empty()) return;
  auto notification = std::make_shared<const Notification>(
      Notification{std::move(name), std::move(object), std::move(userInfo)});
  for (auto& observer : targets) {
    if (observer->queue()) {
      observer->queue()->post([observer, notification] { observer->deliver(*notification); });
    } else {
      observer->deliver(*notification);
    }
  }
}

size_t NotificationCenter::observerCount() const {
  return registry_->size();
}

size_t NotificationCenter::observerCount(std::string_view name) const {
  return registry_->countOf(name);
}

}  // namespace vistrelle
