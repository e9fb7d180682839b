#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/bus/bus_value.h"

namespace vistrelle::bus {

// One method call: who, which object and method, the arguments and how long
// to wait for the answer.
struct BusMethodCall {
  // The bus name of the peer ("org.freedesktop.login1").
  std::string destination;
  std::string path;
  std::string interface;
  std::string member;
  std::vector<BusValue> args = {};
  // D-Bus's own default; callers with a user waiting pass less.
  std::chrono::milliseconds timeout{25000};

  // Why this call cannot be sent, or none.
  std::optional<std::string> invalidReason() const;
};

}  // namespace vistrelle::bus
