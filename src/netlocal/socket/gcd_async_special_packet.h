#pragma once

#include "netlocal/socket/gcd_async_packet.h"
#include "platform/value/value.h"

namespace vistrelle::netlocal {

// The start-secure request, carrying its settings dictionary; one instance is
// queued in both the read and the write queue.
class GCDAsyncSpecialPacket : public GCDAsyncPacket {
 public:
  explicit GCDAsyncSpecialPacket(Value::Map tlsSettings) : tlsSettings(std::move(tlsSettings)) {}

  const Value::Map tlsSettings;
};

}  // namespace vistrelle::netlocal
