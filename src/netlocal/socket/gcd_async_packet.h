#pragma once

namespace vistrelle::netlocal {

// A request in a socket's read or write queue: a read, a write, or the
// start-secure request that sits in both.
class GCDAsyncPacket {
 public:
  virtual ~GCDAsyncPacket() = default;
};

}  // namespace vistrelle::netlocal
