#include "platform/notify/notification_registry.h"

#include <algorithm>

namespace vistrelle {

void NotificationRegistry::add(std::shared_ptr<NotificationObserver> observer) {
  std::lock_guard lock(mutex_);
  observers_.push_back(std::move(observer));
}

void NotificationRegistry::remove(const NotificationObserver* observer) {
  std::shared_ptr<NotificationObserver> removed;  // released after the lock
  std::lock_guard lock(mutex_);
  auto found = std::find_if(observers_.begin(), observers_.end(),
                            [observer](const auto& entry) { return entry.get() == observer; });
  if (found == observers_.end()) return;
  removed = std::move(*found);
  observers_.erase(found);
}

std::vector<std::shared_ptr<NotificationObserver>> NotificationRegistry::observersOf(
    const std::string& name) const {
  std::vector<std::shared_ptr<NotificationObserver>> targets;
  std::lock_guard lock(mutex_);
  for (const auto& observer : observers_) {
    if (observer->wants(name)) targets.push_back(observer);
  }
  return targets;
}

size_t NotificationRegistry::countOf(std::string_view name) const {
  std::lock_guard lock(mutex_);
  return static_cast<size_t>(std::count_if(observers_.begin(), observers_.end(),
                                           [&](const auto& entry) { return entry->wants(name); }));
}

size_t NotificationRegistry::size() const {
  std::lock_guard lock(mutex_);
  return observers_.size();
}

}  // namespace vistrelle
