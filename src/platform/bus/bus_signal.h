#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/bus/bus_value.h"

namespace vistrelle::bus {

// A signal to emit, or one received by a subscription.
struct BusSignal {
  std::string path;
  std::string interface;
  std::string member;
  std::vector<BusValue> args = {};
  // On a received signal, the sender's unique name (":1.7"); ignored when emitting.
  std::string sender = {};

  // Why this signal cannot be emitted, or none.
  std::optional<std::string> invalidReason() const;
};

}  // namespace vistrelle::bus
