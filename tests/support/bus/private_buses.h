#pragma once

// A private session bus and a private system bus for the code under test:
// both daemons are started, DBUS_SESSION_BUS_ADDRESS and
// DBUS_SYSTEM_BUS_ADDRESS point at them while the object lives, and the
// previous values come back when it goes.  Create it before the code under
// test starts threads (setenv is not thread-safe), typically in
// SetUpTestSuite, and check ok().

#include <optional>
#include <string>

#include "support/bus/private_bus_daemon.h"

namespace vistrelle::testing {

class PrivateBuses {
 public:
  PrivateBuses();
  ~PrivateBuses();
  PrivateBuses(const PrivateBuses&) = delete;
  PrivateBuses& operator=(const PrivateBuses&) = delete;

  bool ok() const { return session_.running() && system_.running(); }
  // Why a daemon did not start.
  std::string error() const;

  PrivateBusDaemon& session() { return session_; }
  PrivateBusDaemon& system() { return system_; }

 private:
  PrivateBusDaemon session_;
  PrivateBusDaemon system_;
  std::optional<std::string> previousSession_;
  std::optional<std::string> previousSystem_;
};

}  // namespace vistrelle::testing
