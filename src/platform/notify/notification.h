#pragma once

#include <functional>
#include <string>

#include "platform/value/value.h"

namespace vistrelle {

// One posted notification: its name (the system's own text, kept verbatim), an
// object and a user-info dictionary.
struct Notification {
  std::string name;
  Value object;
  Value::Map userInfo;
};

using NotificationHandler = std::function<void(const Notification&)>;

}  // namespace vistrelle
