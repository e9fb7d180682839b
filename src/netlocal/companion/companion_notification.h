#pragma once

#include <memory>
#include <string>

#include "netlocal/companion/orvex_local_server.h"
#include "platform/bus/bus_connector.h"

namespace vistrelle::netlocal {

// The server's desktop notification: a signal on the session bus that any
// program of the user's session can subscribe to, carrying the JSON text as
// its one string argument.
class CompanionNotification {
 public:
  static constexpr const char* kPath = "/com/quarnelbistox/ORVEXSpace";
  static constexpr const char* kInterface = "com.quarnelbistox.ORVEXSpace";
  static constexpr const char* kMember = "notification";

  // Emits each text on a session-bus connection of its own, opened through
  // `connector` (default: sd-bus at the session's address) and closed once the
  // daemon has routed the signal; where there is no session bus, or it refuses
  // the signal, the reason is logged and the notification dropped.  Blocks the
  // calling thread until then (the server calls it on the global queue).
  static OrvexLocalServer::NotificationEmitter busEmitter(
      std::shared_ptr<bus::BusConnector> connector = nullptr);
};

}  // namespace vistrelle::netlocal
