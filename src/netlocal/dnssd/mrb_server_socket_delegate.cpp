#include "netlocal/dnssd/mrb_server_socket_delegate.h"

#include "netlocal/dnssd/mrb_server.h"

namespace vistrelle::netlocal {

void MRBServerSocketDelegate::socketDidAcceptNewSocket(const GCDAsyncSocketPtr& sock,
                                                       const GCDAsyncSocketPtr& newSocket) {
  if (auto server = server_.lock()) {
    server->socketAccepted(sock, newSocket);
  } else {
    newSocket->disconnect();
  }
}

void MRBServerSocketDelegate::socketDidConnectToHost(const GCDAsyncSocketPtr& sock,
                                                     const std::string& /*host*/,
                                                     uint16_t /*port*/) {
  if (auto server = server_.lock()) server->socketConnected(sock);
}

void MRBServerSocketDelegate::socketDidReadData(const GCDAsyncSocketPtr& sock,
                                                const SocketData& data, long /*tag*/) {
  if (auto server = server_.lock()) server->socketRead(sock, data);
}

void MRBServerSocketDelegate::socketDidDisconnect(const GCDAsyncSocketPtr& sock,
                                                  const SocketErrorPtr& error) {
  if (!sock) return;
  if (auto server = server_.lock()) server->socketClosed(sock, error);
}

}  // namespace vistrelle::netlocal
