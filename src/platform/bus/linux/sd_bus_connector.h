#pragma once

#include "platform/bus/bus_connector.h"

namespace vistrelle::bus {

// Opens buses over sd-bus at the addresses the environment gives, each on a
// serial queue of its own with its socket on the shared runtime's reactor,
// and registers each connection's close() with the runtime's stops, so that it
// closes before the runtime stops.  The runtime must be installed.
class SdBusConnector final : public BusConnector {
 public:
  BusResult<std::shared_ptr<Bus>> open(BusKind kind) override;
};

}  // namespace vistrelle::bus
