#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/notify/notification_observer.h"

namespace vistrelle {

// The observers of one centre, shared with its subscriptions so that one that
// outlives the centre finds it gone rather than dangling.
struct NotificationRegistry {
  void add(std::shared_ptr<NotificationObserver> observer);
  void remove(const NotificationObserver* observer);
  // The observers that want `name`, as they stand now.
  std::vector<std::shared_ptr<NotificationObserver>> observersOf(const std::string& name) const;
  // How many want `name`, without copying them.
  size_t countOf(std::string_view name) const;
  size_t size() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<NotificationObserver>> observers_;
};

}  // namespace vistrelle
