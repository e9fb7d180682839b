#pragma once

#include <memory>

#include "netlocal/socket/gcd_async_socket_delegate.h"

namespace vistrelle::netlocal {

class MRBServer;

// Hands the listener's and the peer connection's events to their server,
// while it lives.
class MRBServerSocketDelegate final : public GCDAsyncSocketDelegate {
 public:
  explicit MRBServerSocketDelegate(std::weak_ptr<MRBServer> server) : server_(std::move(server)) {}

  void socketDidAcceptNewSocket(const GCDAsyncSocketPtr& sock,
                                const GCDAsyncSocketPtr& newSocket) override;
  void socketDidConnectToHost(const GCDAsyncSocketPtr& sock, const std::string& host,
                              uint16_t port) override;
  void socketDidReadData(const GCDAsyncSocketPtr& sock, const SocketData& data, long tag) override;
  void socketDidDisconnect(const GCDAsyncSocketPtr& sock, const SocketErrorPtr& error) override;

 private:
  std::weak_ptr<MRBServer> server_;
};

}  // namespace vistrelle::netlocal
