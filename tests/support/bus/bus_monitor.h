#pragma once

// dbus-monitor on a private bus as an independent reader: what it prints is
// the bus's own view of the messages, decoded by libdbus rather than by our
// codec.
//
//   BusMonitor monitor(buses.session().address(), "type='signal',interface='com.example.Item'");
//   ASSERT_TRUE(monitor.ready());
//   ... emit ...
//   EXPECT_TRUE(monitor.waitFor("string \"hello\""));

#include <chrono>
#include <string>
#include <thread>

#include "support/child_process.h"

namespace vistrelle::testing {

class BusMonitor {
 public:
  BusMonitor(const std::string& address, const std::string& rule)
      : monitor_({"dbus-monitor", "--address", address, rule}) {
    // Once it has become a monitor, the daemon takes its name away and it
    // prints that NameLost signal: from then on it sees everything.
    ready_ = waitFor("member=NameLost");
  }

  bool ready() const { return ready_; }

  // Waits until the output holds `text`.
  bool waitFor(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
      if (monitor_.output().find(text) != std::string::npos) return true;
      if (std::chrono::steady_clock::now() > end) return false;
      if (monitor_.waitExit(std::chrono::milliseconds(0))) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  const std::string& output() { return monitor_.output(); }

 private:
  ChildProcess monitor_;
  bool ready_ = false;
};

}  // namespace vistrelle::testing
