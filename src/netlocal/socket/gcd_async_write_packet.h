#pragma once

#include <cstddef>
#include <memory>

#include "netlocal/socket/gcd_async_packet.h"
#include "netlocal/socket/socket_data.h"

namespace vistrelle::netlocal {

// One queued write: the caller's bytes (held, not copied), progress, time-out
// in seconds (negative = none) and the caller's tag.
class GCDAsyncWritePacket : public GCDAsyncPacket {
 public:
  GCDAsyncWritePacket(std::shared_ptr<const Bytes> data, double timeout, long tag)
      : buffer(std::move(data)), timeout(timeout), tag(tag) {}

  size_t length() const { return buffer->size(); }
  size_t remaining() const { return buffer->size() - bytesDone; }

  const std::shared_ptr<const Bytes> buffer;
  size_t bytesDone = 0;
  double timeout;
  const long tag;
};

}  // namespace vistrelle::netlocal
