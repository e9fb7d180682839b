#pragma once

#include <optional>
#include <string>

#include "platform/bus/bus_signal.h"

namespace vistrelle::bus {

// Which signals a subscription receives.  An empty field matches anything;
// `interface` and `member` together name one signal.
struct BusSignalMatch {
  // A unique or well-known bus name; a well-known one matches whoever owns it.
  std::string sender;
  std::string path;
  std::string interface;
  std::string member;

  // The daemon's match rule: "type='signal',sender='...',path='...',...".
  std::string rule() const;
  // Why this match cannot be installed, or none.
  std::optional<std::string> invalidReason() const;
  // Path, interface and member only: the sender of a received signal is a
  // unique name, which only the daemon can tie to a well-known one.
  bool matchesIgnoringSender(const BusSignal& signal) const;
};

}  // namespace vistrelle::bus
