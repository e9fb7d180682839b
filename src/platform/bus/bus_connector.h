#pragma once

#include <memory>

#include "platform/bus/bus.h"

namespace vistrelle::bus {

// Opens the session or the system bus.  Where there is none (no address, no
// socket, a daemon that refuses us) the answer is a NoBus error whose message
// says which bus and why, for the caller to log once.
class BusConnector {
 public:
  virtual ~BusConnector() = default;
  virtual BusResult<std::shared_ptr<Bus>> open(BusKind kind) = 0;
};

}  // namespace vistrelle::bus
