#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "netlocal/socket/socket_data.h"
#include "netlocal/socket/socket_error.h"
#include "platform/dispatch/executor.h"

namespace vistrelle::netlocal {

class GCDAsyncSocket;
class SecTrust;
using GCDAsyncSocketPtr = std::shared_ptr<GCDAsyncSocket>;

// What a socket tells its owner.  Every operation is optional (the defaults do
// nothing) and is called on the delegate queue, never on the socket's own.
class GCDAsyncSocketDelegate {
 public:
  virtual ~GCDAsyncSocketDelegate() = default;

  // Before an accepted socket is created: the queue it should run on (null:
  // a new one of its own).
  virtual dispatch::ExecutorPtr newSocketQueueForConnectionFromAddress(
      const Bytes& /*address*/, const GCDAsyncSocketPtr& /*sock*/) {
    return nullptr;
  }
  virtual void socketDidAcceptNewSocket(const GCDAsyncSocketPtr& /*sock*/,
                                        const GCDAsyncSocketPtr& /*newSocket*/) {}
  virtual void socketDidConnectToHost(const GCDAsyncSocketPtr& /*sock*/,
                                      const std::string& /*host*/, uint16_t /*port*/) {}
  virtual void socketDidConnectToUrl(const GCDAsyncSocketPtr& /*sock*/,
                                     const std::string& /*url*/) {}
  virtual void socketDidReadData(const GCDAsyncSocketPtr& /*sock*/, const SocketData& /*data*/,
                                 long /*tag*/) {}
  virtual void socketDidReadPartialDataOfLength(const GCDAsyncSocketPtr& /*sock*/,
                                                size_t /*partialLength*/, long /*tag*/) {}
  virtual void socketDidWriteDataWithTag(const GCDAsyncSocketPtr& /*sock*/, long /*tag*/) {}
  virtual void socketDidWritePartialDataOfLength(const GCDAsyncSocketPtr& /*sock*/,
                                                 size_t /*partialLength*/, long /*tag*/) {}
  // A read timed out: a positive answer extends it by that many seconds.
  virtual double socketShouldTimeoutReadWithTag(const GCDAsyncSocketPtr& /*sock*/, long /*tag*/,
                                                double /*elapsed*/, size_t /*bytesDone*/) {
    return 0;
  }
  virtual double socketShouldTimeoutWriteWithTag(const GCDAsyncSocketPtr& /*sock*/, long /*tag*/,
                                                 double /*elapsed*/, size_t /*bytesDone*/) {
    return 0;
  }
  virtual void socketDidCloseReadStream(const GCDAsyncSocketPtr& /*sock*/) {}
  // `sock` is null when the socket was destroyed; `error` null for an
  // ordinary close.
  virtual void socketDidDisconnect(const GCDAsyncSocketPtr& /*sock*/,
                                   const SocketErrorPtr& /*error*/) {}
  virtual void socketDidSecure(const GCDAsyncSocketPtr& /*sock*/) {}
  // Manual trust evaluation.  Return true when the delegate takes the
  // question and will call `completionHandler` once; the default declines,
  // which ends the handshake.
  virtual bool socketDidReceiveTrust(const GCDAsyncSocketPtr& /*sock*/,
                                     const std::shared_ptr<SecTrust>& /*trust*/,
                                     std::function<void(bool shouldTrust)> /*completionHandler*/) {
    return false;
  }
};

}  // namespace vistrelle::netlocal
