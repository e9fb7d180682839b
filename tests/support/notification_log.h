#pragma once

// Every notification of the names asked for, in order, as they are posted
// (observed inline on the posting thread).

#include <string>
#include <vector>

#include "platform/notify/notification_center.h"

namespace vistrelle::testing {

class NotificationLog {
 public:
  explicit NotificationLog(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
      subscriptions_.push_back(NotificationCenter::defaultCenter().observe(
          name, nullptr, [this](const Notification& n) { posted_.push_back(n); }));
    }
  }
  std::vector<Notification> named(const std::string& name) const {
    std::vector<Notification> matching;
    for (const Notification& n : posted_) {
      if (n.name == name) matching.push_back(n);
    }
    return matching;
  }
  size_t count(const std::string& name) const { return named(name).size(); }
  // The objects of `name`'s posts read as Booleans (false when not one).
  std::vector<bool> flags(const std::string& name) const {
    std::vector<bool> values;
    for (const Notification& n : named(name)) values.push_back(n.object.boolOr(false));
    return values;
  }
  void clear() { posted_.clear(); }

 private:
  std::vector<Subscription> subscriptions_;
  std::vector<Notification> posted_;
};

}  // namespace vistrelle::testing
