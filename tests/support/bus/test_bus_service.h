#pragma once

// The other side of the bus for a test: a connection of its own (sd-bus, on
// a thread of its own) that can claim a well-known name such as
// "org.freedesktop.login1", answer method calls (with values, with a D-Bus
// error, or never, for time-outs), expose properties, emit signals, record
// the signals it sees and call methods on the code under test.
//
//   TestBusService logind(buses.system().address(), "org.freedesktop.login1");
//   logind.onMethod("/org/freedesktop/login1/session/auto", "org.freedesktop.login1.Session",
//                   "SetBrightness", [](const auto& call) { return Answer::reply(); });
//   logind.setProperty(path, "org.freedesktop.login1.Session", "LockedHint", BusValue(true));
//   logind.emitSignal("/org/freedesktop/login1", "org.freedesktop.login1.Manager",
//                     "PrepareForSleep", {BusValue(true)});
//
// Handlers run on the service's thread; everything else may be called from
// any thread.  Arguments travel through the same codec as the code under
// test's; the dbus-monitor reader (bus_monitor.h) checks it independently.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/bus/bus_method_call.h"
#include "platform/bus/bus_result.h"
#include "platform/bus/bus_signal.h"
#include "platform/bus/bus_signal_match.h"
#include "platform/bus/bus_value.h"
#include "platform/bus/linux/sd_bus_ptr.h"
#include "platform/dispatch/unique_fd.h"

namespace vistrelle::testing {

class TestBusService {
 public:
  struct Call {
    std::string path;
    std::string interface;
    std::string member;
    std::string sender;
    std::vector<bus::BusValue> args;
  };
  struct Answer {
    enum class Kind { Reply, Error, Never };
    Kind kind = Kind::Reply;
    std::vector<bus::BusValue> values;
    std::string errorName;
    std::string errorMessage;

    static Answer reply(std::vector<bus::BusValue> values = {}) {
      return {Kind::Reply, std::move(values), {}, {}};
    }
    static Answer error(std::string name, std::string message) {
      return {Kind::Error, {}, std::move(name), std::move(message)};
    }
    // The call stays unanswered: the caller's time-out decides.
    static Answer never() { return {Kind::Never, {}, {}, {}}; }
  };
  using MethodHandler = std::function<Answer(const Call&)>;

  // Connects to `address` and claims `name` (none when empty); see ok().
  explicit TestBusService(const std::string& address, const std::string& name = {});
  ~TestBusService();
  TestBusService(const TestBusService&) = delete;
  TestBusService& operator=(const TestBusService&) = delete;

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  // This connection's unique name (":1.4").
  const std::string& uniqueName() const { return uniqueName_; }

  // Answers `interface`.`member` on `path`; a call nothing answers gets
  // org.freedesktop.DBus.Error.UnknownMethod.
  void onMethod(std::string path, std::string interface, std::string member, MethodHandler handler);
  // Readable through org.freedesktop.DBus.Properties.Get and GetAll.
  void setProperty(std::string path, std::string interface, std::string name, bus::BusValue value);
  // Sends a signal; true once it is on its way to the daemon.
  bool emitSignal(std::string path, std::string interface, std::string member,
                  std::vector<bus::BusValue> args);
  // Calls a method of another peer and waits for the answer (at most the
  // call's time-out and a second).
  bus::BusResult<std::vector<bus::BusValue>> call(const bus::BusMethodCall& call);
  // Records signals matching `match` (see signals()); true once the daemon
  // has installed the rule.
  bool watchSignals(const bus::BusSignalMatch& match);

  // Every call received so far (answered or not), and the signals watched.
  std::vector<Call> calls() const;
  std::vector<bus::BusSignal> signals() const;
  bool waitForCalls(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(5)) const;
  bool waitForSignals(size_t count,
                      std::chrono::milliseconds limit = std::chrono::seconds(5)) const;

  // Leaves the bus, as a service that exits would; its name is released.
  void disconnect();

 private:
  using Key = std::tuple<std::string, std::string, std::string>;

  // Runs `work` on the service thread and waits for it (bounded).
  bool runOnThread(std::function<void()> work,
                   std::chrono::milliseconds limit = std::chrono::seconds(5));
  void loop();
  void handle(sd_bus_message* message);
  static int onMessage(sd_bus_message* message, void* userdata, sd_bus_error* error);
  static int onSignal(sd_bus_message* message, void* userdata, sd_bus_error* error);

  std::string error_;
  std::string uniqueName_;
  bus::SdBusPtr bus_;  // on the service thread once it runs
  std::vector<bus::SdBusSlotPtr> slots_;
  dispatch::UniqueFd wake_;
  std::thread thread_;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool stopping_ = false;
  std::deque<std::function<void()>> work_;
  std::map<Key, MethodHandler> handlers_;
  std::map<Key, bus::BusValue> properties_;
  std::vector<Call> calls_;
  std::vector<bus::BusSignal> signals_;
};

}  // namespace vistrelle::testing
