#pragma once

// One private dbus-daemon for a test: its own configuration and socket in a
// fresh temporary folder, stopped and cleaned up with the object.  The policy
// lets anyone own any name, send anything and monitor, so a test can stand in
// for system services such as org.freedesktop.login1.

#include <memory>
#include <string>

#include "support/child_process.h"

namespace vistrelle::testing {

class PrivateBusDaemon {
 public:
  // `type` is "session" or "system".
  explicit PrivateBusDaemon(const std::string& type);
  ~PrivateBusDaemon();
  PrivateBusDaemon(const PrivateBusDaemon&) = delete;
  PrivateBusDaemon& operator=(const PrivateBusDaemon&) = delete;

  bool running() const { return daemon_ != nullptr; }
  // Why it is not running (empty while it runs).
  const std::string& error() const { return error_; }
  // The D-Bus address to connect to ("unix:path=/tmp/.../bus,guid=...").
  const std::string& address() const { return address_; }
  // Stops the daemon now, as a bus that goes away would; its clients see the
  // connection close.
  void stop();

 private:
  std::string folder_;
  std::string address_;
  std::string error_;
  std::unique_ptr<ChildProcess> daemon_;
};

}  // namespace vistrelle::testing
