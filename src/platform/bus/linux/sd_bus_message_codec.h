#pragma once

#include <systemd/sd-bus.h>

#include <vector>

#include "platform/bus/bus_result.h"
#include "platform/bus/bus_value.h"

namespace vistrelle::bus {

// Moves arguments between BusValue and sd-bus messages.  Shared by the
// connection and the test-side service so that both speak the same types.
class SdBusMessageCodec {
 public:
  // Appends `values` (checked with BusValue::invalidReason first).  A unix fd
  // is duplicated into the message.
  static BusResult<void> append(sd_bus_message* message, const std::vector<BusValue>& values);

  // Reads the arguments from the message's read position to its end.  A unix
  // fd is duplicated, so the values outlive the message.  Types BusValue
  // cannot hold (int16, uint16, signatures) give BadReply.
  static BusResult<std::vector<BusValue>> read(sd_bus_message* message);
};

}  // namespace vistrelle::bus
