#pragma once

#include <memory>

#include "netlocal/socket/socket_data.h"
#include "netlocal/socket/socket_error.h"
#include "platform/dnssd/dns_sd_error.h"
#include "platform/dnssd/dns_sd_service_record.h"

namespace vistrelle::netlocal {

class MRBServer;
using MRBServerPtr = std::shared_ptr<MRBServer>;

// What a server tells its owner, always on the server's queue.  Every
// operation is optional: the defaults do nothing.  `server` is null when the
// server is being destroyed.
class MRBServerDelegate {
 public:
  virtual ~MRBServerDelegate() = default;

  virtual void serverStopped(const MRBServerPtr& /*server*/) {}
  // The peer's connection is open both ways; the announcement is withdrawn.
  virtual void serverRemoteConnectionComplete(const MRBServerPtr& /*server*/) {}
  // One arrival of the peer's bytes.
  virtual void serverDidAcceptData(const MRBServerPtr& /*server*/, const SocketData& /*data*/) {}
  // `error` is null when the peer closed the connection (the announcement
  // then comes back), else why it broke (the server then stops).
  virtual void serverLostConnection(const MRBServerPtr& /*server*/,
                                    const SocketErrorPtr& /*error*/) {}
  virtual void serverDidNotStart(const MRBServerPtr& /*server*/,
                                 const dnssd::DnsSdError& /*error*/) {}
  virtual void serviceAdded(const dnssd::DnsSdServiceRecord& /*service*/, bool /*moreComing*/) {}
  virtual void serviceRemoved(const dnssd::DnsSdServiceRecord& /*service*/, bool /*moreComing*/) {}
};

}  // namespace vistrelle::netlocal
