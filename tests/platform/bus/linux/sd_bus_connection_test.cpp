#include "platform/bus/linux/sd_bus_connection.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <future>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "platform/bus/linux/sd_bus_connector.h"
#include "platform/dispatch/event_loop.h"
#include "platform/dispatch/runtime.h"
#include "support/bus/bus_monitor.h"
#include "support/bus/private_buses.h"
#include "support/bus/test_bus_service.h"

namespace vistrelle::bus {
namespace {

using namespace std::chrono_literals;
using testing::BusMonitor;
using testing::PrivateBusDaemon;
using testing::PrivateBuses;
using testing::TestBusService;
using Answer = TestBusService::Answer;

// The private buses come first: their addresses go into the environment
// before the runtime starts its threads.
class BusEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    buses = std::make_unique<PrivateBuses>();
    runtime = std::make_unique<dispatch::Runtime>(std::make_shared<dispatch::EventLoop>(),
                                                  dispatch::Runtime::Options{4});
  }
  void TearDown() override {
    runtime.reset();
    buses.reset();
  }
  static inline std::unique_ptr<PrivateBuses> buses;
  static inline std::unique_ptr<dispatch::Runtime> runtime;
};

::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new BusEnvironment);

// Collects what handlers receive, noting whether each ran on the chosen queue.
template <class T>
class Inbox {
 public:
  explicit Inbox(dispatch::ExecutorPtr queue) : queue_(std::move(queue)) {}

  auto handler() {
    return [this](T item) {
      const bool onQueue = queue_->isCurrent();
      std::lock_guard lock(mutex_);
      items_.push_back(std::move(item));
      allOnQueue_ = allOnQueue_ && onQueue;
      arrived_.notify_all();
    };
  }
  bool waitFor(size_t count, std::chrono::milliseconds limit = 5s) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, limit, [&] { return items_.size() >= count; });
  }
  std::vector<T> items() {
    std::lock_guard lock(mutex_);
    return items_;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    items_.clear();
  }
  bool allOnQueue() {
    std::lock_guard lock(mutex_);
    return allOnQueue_;
  }

 private:
  dispatch::ExecutorPtr queue_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<T> items_;
  bool allOnQueue_ = true;
};

const std::string kLogin1 = "org.freedesktop.login1";
const std::string kSessionPath = "/org/freedesktop/login1/session/auto";
const std::string kSessionInterface = "org.freedesktop.login1.Session";
const std::string kManagerInterface = "org.freedesktop.login1.Manager";

class SdBusConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(BusEnvironment::buses->ok()) << BusEnvironment::buses->error();
    queue_ = dispatch::makeSerialQueue("test.receiver");
  }

  std::shared_ptr<Bus> open(BusKind kind) {
    BusResult<std::shared_ptr<Bus>> bus = SdBusConnector().open(kind);
    EXPECT_TRUE(bus.ok()) << (bus.ok() ? "" : bus.error().describe());
    return bus.ok() ? bus.value() : nullptr;
  }

  // A round trip to the daemon: what this connection sent before is in place.
  static void roundTrip(Bus& bus) {
    Bus::Reply pong = bus.callAndWait(BusMethodCall{"org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                    "org.freedesktop.DBus.Peer", "Ping"});
    ASSERT_TRUE(pong.ok()) << pong.error().describe();
  }

  dispatch::SerialQueuePtr queue_;
};

BusMethodCall loginCall(std::string member, std::vector<BusValue> args,
                        std::chrono::milliseconds timeout = 5s) {
  return BusMethodCall{kLogin1,           kSessionPath,    kSessionInterface,
                       std::move(member), std::move(args), timeout};
}

TEST_F(SdBusConnectionTest, CallsReachTheServiceAndAnswersComeOnTheChosenQueue) {
  TestBusService logind(BusEnvironment::buses->system().address(), kLogin1);
  ASSERT_TRUE(logind.ok()) << logind.error();
  logind.onMethod(kSessionPath, kSessionInterface, "SetBrightness",
                  [](const TestBusService::Call&) { return Answer::reply(); });
  // Inhibit hands back the write end of a pipe: the lock lasts while it is open.
  int pipeFds[2];
  ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
  dispatch::UniqueFd lockRead(pipeFds[0]);
  auto lockWrite = std::make_shared<dispatch::UniqueFd>(pipeFds[1]);
  logind.onMethod("/org/freedesktop/login1", kManagerInterface, "Inhibit",
                  [lockWrite](const TestBusService::Call&) {
                    return Answer::reply({BusValue::unixFd(
                        dispatch::UniqueFd(fcntl(lockWrite->get(), F_DUPFD_CLOEXEC, 3)))});
                  });

  std::shared_ptr<Bus> bus = open(BusKind::System);
  ASSERT_TRUE(bus);
  Inbox<Bus::Reply> replies(queue_);
  bus->call(loginCall("SetBrightness", {BusValue("backlight"), BusValue("intel_backlight"),
                                        BusValue(uint32_t{120})}),
            queue_, replies.handler());
  bus->call(BusMethodCall{kLogin1,
                          "/org/freedesktop/login1",
                          kManagerInterface,
                          "Inhibit",
                          {BusValue("sleep"), BusValue("Vistrelle"),
                           BusValue("Stop the 3D view first"), BusValue("delay")},
                          5s},
            queue_, replies.handler());
  ASSERT_TRUE(replies.waitFor(2));
  EXPECT_TRUE(replies.allOnQueue());
  std::vector<Bus::Reply> got = replies.items();
  ASSERT_TRUE(got[0].ok()) << got[0].error().describe();
  EXPECT_TRUE(got[0].value().empty());
  ASSERT_TRUE(got[1].ok()) << got[1].error().describe();
  ASSERT_EQ(signatureOf(got[1].value()), "h");

  std::vector<TestBusService::Call> calls = logind.calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].member, "SetBrightness");
  EXPECT_EQ(calls[0].args,
            (std::vector<BusValue>{BusValue("backlight"), BusValue("intel_backlight"),
                                   BusValue(uint32_t{120})}));
  EXPECT_EQ(signatureOf(calls[1].args), "ssss");
  EXPECT_EQ(*calls[1].args[3].asString(), "delay");

  // The received descriptor is the pipe, and the lock lasts exactly as long
  // as a copy of the value: once ours are gone (the service let go of its
  // own), the reader sees the end.
  const char byte = 'x';
  ASSERT_EQ(write(got[1].value()[0].asFd(), &byte, 1), 1);
  char buffer[2] = {};
  ASSERT_EQ(read(lockRead.get(), buffer, sizeof buffer), 1);
  EXPECT_EQ(buffer[0], 'x');
  logind.onMethod("/org/freedesktop/login1", kManagerInterface, "Inhibit",
                  [](const TestBusService::Call&) { return Answer::reply(); });
  lockWrite.reset();
  ASSERT_EQ(fcntl(lockRead.get(), F_SETFL, O_NONBLOCK), 0);
  EXPECT_EQ(read(lockRead.get(), buffer, sizeof buffer), -1);  // still held
  got.clear();
  replies.clear();
  // The messages that carried it are released just after; the end follows.
  pollfd end{lockRead.get(), POLLIN, 0};
  ASSERT_EQ(poll(&end, 1, 5000), 1);
  EXPECT_EQ(read(lockRead.get(), buffer, sizeof buffer), 0);
}

TEST_F(SdBusConnectionTest, ArgumentsOfEveryKindGoThereAndBack) {
  TestBusService echo(BusEnvironment::buses->session().address(), "com.example.Echo");
  ASSERT_TRUE(echo.ok()) << echo.error();
  echo.onMethod("/com/example/Echo", "com.example.Echo", "Echo",
                [](const TestBusService::Call& call) { return Answer::reply(call.args); });
  std::shared_ptr<Bus> bus = open(BusKind::Session);
  ASSERT_TRUE(bus);

  const std::vector<std::vector<BusValue>> cases = {
      {},
      {BusValue(true), BusValue(false), BusValue::byte(255)},
      {BusValue(int32_t{-2147483647 - 1}), BusValue(uint32_t{4294967295u})},
      {BusValue(int64_t{-9223372036854775807 - 1}), BusValue(uint64_t{18446744073709551615u})},
      {BusValue(-0.25), BusValue(1e300)},
      {BusValue(""), BusValue("眼镜 {\"type\": 84999}"), BusValue::objectPath("/")},
      {BusValue::array("s", {}),
       BusValue::array("i", {BusValue(int32_t{1}), BusValue(int32_t{2})})},
      {BusValue::dict("s", "v",
                      {{BusValue("Id"), BusValue::variant(BusValue("vistrelle"))},
                       {BusValue("Menu"), BusValue::variant(BusValue::objectPath("/Menu"))}})},
      {BusValue::array(
          "(iiay)",
          {BusValue::structOf({BusValue(int32_t{16}), BusValue(int32_t{16}),
                               BusValue::array("y", {BusValue::byte(0), BusValue::byte(7)})})})},
      {BusValue::variant(BusValue::variant(BusValue(uint64_t{7})))},
      {BusValue::dict("u", "ax", {{BusValue(uint32_t{1}), BusValue::array("x", {})}})},
  };
  for (const std::vector<BusValue>& args : cases) {
    SCOPED_TRACE(signatureOf(args));
    Bus::Reply reply = bus->callAndWait(BusMethodCall{"com.example.Echo", "/com/example/Echo",
                                                      "com.example.Echo", "Echo", args, 5s});
    ASSERT_TRUE(reply.ok()) << reply.error().describe();
    EXPECT_EQ(reply.value(), args);
  }
}

TEST_F(SdBusConnectionTest, ErrorsComeBackWithTheirNames) {
  TestBusService logind(BusEnvironment::buses->system().address(), kLogin1);
  ASSERT_TRUE(logind.ok()) << logind.error();
  logind.onMethod(
      kSessionPath, kSessionInterface, "SetBrightness", [](const TestBusService::Call&) {
        return Answer::error("org.freedesktop.DBus.Error.AccessDenied", "not the active session");
      });
  std::shared_ptr<Bus> bus = open(BusKind::System);
  ASSERT_TRUE(bus);

  struct Case {
    BusMethodCall call;
    BusError::Code code;
    std::string name;
  };
  const Case cases[] = {
      {loginCall("SetBrightness", {BusValue("backlight"), BusValue("x"), BusValue(uint32_t{1})}),
       BusError::Code::Remote, "org.freedesktop.DBus.Error.AccessDenied"},
      {loginCall("Activate", {}), BusError::Code::Remote,
       "org.freedesktop.DBus.Error.UnknownMethod"},
      {BusMethodCall{"org.example.Nobody", "/", "org.example.Nobody", "Hello", {}, 5s},
       BusError::Code::Remote, "org.freedesktop.DBus.Error.ServiceUnknown"},
      {loginCall("Bad-Member", {}), BusError::Code::InvalidArgument, ""},
      {BusMethodCall{kLogin1, "no/slash", kSessionInterface, "Lock", {}, 5s},
       BusError::Code::InvalidArgument, ""},
      {loginCall("Lock", {BusValue("\xff")}), BusError::Code::InvalidArgument, ""},
      {loginCall("Lock", {BusValue::array("s", {BusValue(int32_t{1})})}),
       BusError::Code::InvalidArgument, ""},
  };
  Inbox<Bus::Reply> replies(queue_);
  for (const Case& c : cases) bus->call(c.call, queue_, replies.handler());
  ASSERT_TRUE(replies.waitFor(std::size(cases)));
  EXPECT_TRUE(replies.allOnQueue());
  // Answers to valid calls come in the order sent; refused ones at once, so
  // match each by its code and name instead of position.
  std::vector<Bus::Reply> got = replies.items();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.call.member + " " + c.name);
    auto found = std::find_if(got.begin(), got.end(), [&](const Bus::Reply& reply) {
      return !reply.ok() && reply.error().code == c.code && reply.error().name == c.name;
    });
    ASSERT_NE(found, got.end());
    got.erase(found);
  }
  EXPECT_TRUE(got.empty());
  // The denied call reached the service; the refused ones never left.
  EXPECT_EQ(logind.calls().size(), 2u);
}

TEST_F(SdBusConnectionTest, AnUnansweredCallTimesOutAndTheBusGoesOn) {
  TestBusService logind(BusEnvironment::buses->system().address(), kLogin1);
  ASSERT_TRUE(logind.ok()) << logind.error();
  logind.onMethod(kSessionPath, kSessionInterface, "SetBrightness",
                  [](const TestBusService::Call&) { return Answer::never(); });
  logind.onMethod(kSessionPath, kSessionInterface, "Lock",
                  [](const TestBusService::Call&) { return Answer::reply(); });
  std::shared_ptr<Bus> bus = open(BusKind::System);
  ASSERT_TRUE(bus);

  Inbox<Bus::Reply> replies(queue_);
  const auto sent = std::chrono::steady_clock::now();
  bus->call(loginCall("SetBrightness",
                      {BusValue("backlight"), BusValue("x"), BusValue(uint32_t{1})}, 150ms),
            queue_, replies.handler());
  ASSERT_TRUE(replies.waitFor(1));
  const auto waited = std::chrono::steady_clock::now() - sent;
  EXPECT_GE(waited, 150ms);
  EXPECT_TRUE(replies.allOnQueue());
  ASSERT_FALSE(replies.items()[0].ok());
  EXPECT_EQ(replies.items()[0].error().code, BusError::Code::Timeout)
      << replies.items()[0].error().describe();

  // The waiting variant is bounded the same way, and the bus still answers.
  Bus::Reply waitedReply = bus->callAndWait(loginCall(
      "SetBrightness", {BusValue("backlight"), BusValue("x"), BusValue(uint32_t{2})}, 100ms));
  ASSERT_FALSE(waitedReply.ok());
  EXPECT_EQ(waitedReply.error().code, BusError::Code::Timeout);
  EXPECT_TRUE(bus->callAndWait(loginCall("Lock", {})).ok());
}

TEST_F(SdBusConnectionTest, ReadsProperties) {
  TestBusService logind(BusEnvironment::buses->system().address(), kLogin1);
  ASSERT_TRUE(logind.ok()) << logind.error();
  logind.setProperty(kSessionPath, kSessionInterface, "LockedHint", BusValue(true));
  std::shared_ptr<Bus> bus = open(BusKind::System);
  ASSERT_TRUE(bus);

  Inbox<BusResult<BusValue>> values(queue_);
  bus->readProperty({kLogin1, kSessionPath, kSessionInterface, "LockedHint", 5s}, queue_,
                    values.handler());
  ASSERT_TRUE(values.waitFor(1));
  EXPECT_TRUE(values.allOnQueue());
  ASSERT_TRUE(values.items()[0].ok()) << values.items()[0].error().describe();
  EXPECT_EQ(values.items()[0].value(), BusValue(true));

  logind.setProperty(kSessionPath, kSessionInterface, "LockedHint", BusValue(false));
  BusResult<BusValue> now =
      bus->readPropertyAndWait({kLogin1, kSessionPath, kSessionInterface, "LockedHint", 5s});
  ASSERT_TRUE(now.ok()) << now.error().describe();
  EXPECT_EQ(now.value(), BusValue(false));

  BusResult<BusValue> missing =
      bus->readPropertyAndWait({kLogin1, kSessionPath, kSessionInterface, "NoSuchThing", 5s});
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().code, BusError::Code::Remote);
  EXPECT_EQ(missing.error().name, "org.freedesktop.DBus.Error.UnknownProperty");
  BusResult<BusValue> invalid =
      bus->readPropertyAndWait({kLogin1, kSessionPath, "login1", "LockedHint", 5s});
  ASSERT_FALSE(invalid.ok());
  EXPECT_EQ(invalid.error().code, BusError::Code::InvalidArgument);
}

TEST_F(SdBusConnectionTest, SubscriptionsSeeTheirSignalsOnTheChosenQueue) {
  struct Case {
    BusKind kind;
    std::string service;
    std::string path;
    std::string interface;
    std::string member;
    std::vector<BusValue> args;
  };
  const Case cases[] = {
      {BusKind::System,
       kLogin1,
       "/org/freedesktop/login1",
       kManagerInterface,
       "PrepareForSleep",
       {BusValue(true)}},
      {BusKind::Session,
       "org.freedesktop.ScreenSaver",
       "/org/freedesktop/ScreenSaver",
       "org.freedesktop.ScreenSaver",
       "ActiveChanged",
       {BusValue(false)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.member);
    PrivateBusDaemon& daemon = c.kind == BusKind::System ? BusEnvironment::buses->system()
                                                         : BusEnvironment::buses->session();
    TestBusService service(daemon.address(), c.service);
    ASSERT_TRUE(service.ok()) << service.error();
    std::shared_ptr<Bus> bus = open(c.kind);
    ASSERT_TRUE(bus);

    Inbox<BusSignal> seen(queue_);
    Inbox<BusSignal> seenByAll(queue_);
    BusResult<BusSubscription> subscription = bus->subscribe(
        BusSignalMatch{c.service, c.path, c.interface, c.member}, queue_, seen.handler());
    ASSERT_TRUE(subscription.ok()) << subscription.error().describe();
    BusResult<BusSubscription> everything =
        bus->subscribe(BusSignalMatch{c.service, "", c.interface, ""}, queue_, seenByAll.handler());
    ASSERT_TRUE(everything.ok());
    roundTrip(*bus);

    ASSERT_TRUE(service.emitSignal(c.path, c.interface, "SomethingElse", {BusValue("x")}));
    ASSERT_TRUE(service.emitSignal(c.path, c.interface, c.member, c.args));
    ASSERT_TRUE(seenByAll.waitFor(2));
    ASSERT_TRUE(seen.waitFor(1));
    EXPECT_TRUE(seen.allOnQueue());
    std::vector<BusSignal> signals = seen.items();
    ASSERT_EQ(signals.size(), 1u);
    EXPECT_EQ(signals[0].member, c.member);
    EXPECT_EQ(signals[0].path, c.path);
    EXPECT_EQ(signals[0].args, c.args);
    EXPECT_EQ(signals[0].sender, service.uniqueName());

    // Cancelled: later signals pass it by.  The other subscription, on the
    // same queue, seeing a later signal shows nothing is still on the way.
    subscription.value().cancel();
    ASSERT_TRUE(service.emitSignal(c.path, c.interface, c.member, c.args));
    ASSERT_TRUE(service.emitSignal(c.path, c.interface, "Marker", {}));
    ASSERT_TRUE(seenByAll.waitFor(4));
    EXPECT_EQ(seen.items().size(), 1u);
  }
}

TEST_F(SdBusConnectionTest, SignalsOfOtherSendersPassBy) {
  TestBusService logind(BusEnvironment::buses->system().address(), kLogin1);
  TestBusService impostor(BusEnvironment::buses->system().address());
  ASSERT_TRUE(logind.ok() && impostor.ok());
  std::shared_ptr<Bus> bus = open(BusKind::System);
  ASSERT_TRUE(bus);
  Inbox<BusSignal> seen(queue_);
  BusResult<BusSubscription> subscription = bus->subscribe(
      BusSignalMatch{kLogin1, "/org/freedesktop/login1", kManagerInterface, "PrepareForSleep"},
      queue_, seen.handler());
  ASSERT_TRUE(subscription.ok());
  roundTrip(*bus);
  ASSERT_TRUE(impostor.emitSignal("/org/freedesktop/login1", kManagerInterface, "PrepareForSleep",
                                  {BusValue(true)}));
  ASSERT_TRUE(logind.emitSignal("/org/freedesktop/login1", kManagerInterface, "PrepareForSleep",
                                {BusValue(false)}));
  ASSERT_TRUE(seen.waitFor(1));
  roundTrip(*bus);
  std::vector<BusSignal> signals = seen.items();
  ASSERT_EQ(signals.size(), 1u);
  EXPECT_EQ(signals[0].args, std::vector<BusValue>{BusValue(false)});
}

TEST_F(SdBusConnectionTest, EmittedSignalsAreSeenByDbusMonitor) {
  const std::string interface = "com.example.Vistrelle.Companion";
  BusMonitor monitor(BusEnvironment::buses->session().address(),
                     "type='signal',interface='" + interface + "'");
  ASSERT_TRUE(monitor.ready()) << monitor.output();
  TestBusService listener(BusEnvironment::buses->session().address());
  ASSERT_TRUE(listener.ok()) << listener.error();
  ASSERT_TRUE(listener.watchSignals(BusSignalMatch{"", "", interface, ""}));

  std::shared_ptr<Bus> bus = open(BusKind::Session);
  ASSERT_TRUE(bus);
  const std::string json = "{\"type\":84999,\"socket_fd\":0}";
  ASSERT_TRUE(
      bus->emitSignal(
             BusSignal{"/com/example/Vistrelle", interface, "notification", {BusValue(json)}})
          .ok());
  // Closing at once still lets the signal out.
  bus->close();

  EXPECT_TRUE(monitor.waitFor("path=/com/example/Vistrelle; interface=" + interface +
                              "; member=notification"))
      << monitor.output();
  EXPECT_TRUE(monitor.waitFor("string \"" + json + "\"")) << monitor.output();
  ASSERT_TRUE(listener.waitForSignals(1));
  EXPECT_EQ(listener.signals()[0].args, std::vector<BusValue>{BusValue(json)});
  EXPECT_EQ(listener.signals()[0].member, "notification");

  EXPECT_EQ(bus->emitSignal(BusSignal{"/com/example/Vistrelle", interface, "notification", {}})
                .error()
                .code,
            BusError::Code::Disconnected);
  EXPECT_EQ(bus->emitSignal(BusSignal{"relative", interface, "notification", {}}).error().code,
            BusError::Code::InvalidArgument);
}

TEST_F(SdBusConnectionTest, NoBusIsAnErrorValue) {
  struct Case {
    const char* name;
    BusKind kind;
    const char* address;  // null: unset
    const char* runtimeDir;
    const char* mentions;
  };
  const Case cases[] = {
      {"no session address", BusKind::Session, nullptr, nullptr, "DBUS_SESSION_BUS_ADDRESS"},
      {"session socket missing", BusKind::Session, "unix:path=/nonexistent/bus", nullptr,
       "/nonexistent/bus"},
      {"runtime folder without a bus", BusKind::Session, nullptr, "/nonexistent-runtime",
       "/nonexistent-runtime/bus"},
      {"system socket missing", BusKind::System, "unix:path=/nonexistent/system_bus_socket",
       nullptr, "/nonexistent/system_bus_socket"},
      {"not an address", BusKind::System, "nonsense", nullptr, "nonsense"},
  };
  const std::string session = BusEnvironment::buses->session().address();
  const std::string system = BusEnvironment::buses->system().address();
  const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
  const std::string savedRuntimeDir = runtimeDir ? runtimeDir : "";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const char* variable =
        c.kind == BusKind::Session ? "DBUS_SESSION_BUS_ADDRESS" : "DBUS_SYSTEM_BUS_ADDRESS";
    c.address ? setenv(variable, c.address, 1) : unsetenv(variable);
    c.runtimeDir ? setenv("XDG_RUNTIME_DIR", c.runtimeDir, 1) : unsetenv("XDG_RUNTIME_DIR");
    BusResult<std::shared_ptr<Bus>> bus = SdBusConnector().open(c.kind);
    ASSERT_FALSE(bus.ok());
    EXPECT_EQ(bus.error().code, BusError::Code::NoBus);
    EXPECT_NE(bus.error().describe().find(c.mentions), std::string::npos) << bus.error().describe();
    EXPECT_NE(bus.error().describe().find(busKindName(c.kind)), std::string::npos);
  }
  setenv("DBUS_SESSION_BUS_ADDRESS", session.c_str(), 1);
  setenv("DBUS_SYSTEM_BUS_ADDRESS", system.c_str(), 1);
  savedRuntimeDir.empty() ? unsetenv("XDG_RUNTIME_DIR")
                          : setenv("XDG_RUNTIME_DIR", savedRuntimeDir.c_str(), 1);
  EXPECT_TRUE(SdBusConnector().open(BusKind::Session).ok());
}

TEST_F(SdBusConnectionTest, ClosingAnswersWaitingCallsAndRefusesNewWork) {
  TestBusService logind(BusEnvironment::buses->system().address(), kLogin1);
  ASSERT_TRUE(logind.ok()) << logind.error();
  logind.onMethod(kSessionPath, kSessionInterface, "SetBrightness",
                  [](const TestBusService::Call&) { return Answer::never(); });
  std::shared_ptr<Bus> bus = open(BusKind::System);
  ASSERT_TRUE(bus);
  Inbox<Bus::Reply> replies(queue_);
  bus->call(loginCall("SetBrightness",
                      {BusValue("backlight"), BusValue("x"), BusValue(uint32_t{1})}, 60s),
            queue_, replies.handler());
  ASSERT_TRUE(logind.waitForCalls(1));
  bus->close();
  EXPECT_FALSE(bus->isOpen());
  ASSERT_TRUE(replies.waitFor(1));
  EXPECT_EQ(replies.items()[0].error().code, BusError::Code::Disconnected);

  bus->call(loginCall("Lock", {}), queue_, replies.handler());
  ASSERT_TRUE(replies.waitFor(2));
  EXPECT_EQ(replies.items()[1].error().code, BusError::Code::Disconnected);
  EXPECT_TRUE(replies.allOnQueue());
  BusResult<BusSubscription> subscription =
      bus->subscribe(BusSignalMatch{}, queue_, [](const BusSignal&) {});
  ASSERT_FALSE(subscription.ok());
  EXPECT_EQ(subscription.error().code, BusError::Code::Disconnected);
  bus->close();  // again: nothing happens
}

TEST_F(SdBusConnectionTest, ALostBusAnswersWaitingCallsWithDisconnected) {
  PrivateBusDaemon daemon("session");
  ASSERT_TRUE(daemon.running()) << daemon.error();
  TestBusService service(daemon.address(), "com.example.Slow");
  ASSERT_TRUE(service.ok()) << service.error();
  service.onMethod("/", "com.example.Slow", "Wait",
                   [](const TestBusService::Call&) { return Answer::never(); });
  BusResult<std::shared_ptr<SdBusConnection>> bus = SdBusConnection::open(
      BusKind::Session, daemon.address(), dispatch::Runtime::shared().reactor(),
      dispatch::makeSerialQueue("bus.private"));
  ASSERT_TRUE(bus.ok()) << bus.error().describe();
  Inbox<Bus::Reply> replies(queue_);
  bus.value()->call(BusMethodCall{"com.example.Slow", "/", "com.example.Slow", "Wait", {}, 60s},
                    queue_, replies.handler());
  ASSERT_TRUE(service.waitForCalls(1));
  daemon.stop();
  ASSERT_TRUE(replies.waitFor(1));
  EXPECT_EQ(replies.items()[0].error().code, BusError::Code::Disconnected)
      << replies.items()[0].error().describe();
  // The connection notices and closes itself.
  const auto end = std::chrono::steady_clock::now() + 5s;
  while (bus.value()->isOpen() && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(5ms);
  EXPECT_FALSE(bus.value()->isOpen());
}

TEST_F(SdBusConnectionTest, TheRuntimesStopsCloseTheBus) {
  TestBusService logind(BusEnvironment::buses->system().address(), kLogin1);
  ASSERT_TRUE(logind.ok()) << logind.error();
  logind.onMethod(kSessionPath, kSessionInterface, "SetBrightness",
                  [](const TestBusService::Call&) { return Answer::never(); });
  std::shared_ptr<Bus> bus = open(BusKind::System);
  ASSERT_TRUE(bus);
  Inbox<Bus::Reply> replies(queue_);
  bus->call(loginCall("SetBrightness",
                      {BusValue("backlight"), BusValue("x"), BusValue(uint32_t{1})}, 60s),
            queue_, replies.handler());
  ASSERT_TRUE(logind.waitForCalls(1));
  // What main does after its loop returns, before the runtime stops.
  dispatch::Runtime::shared().runStops();
  EXPECT_FALSE(bus->isOpen());
  ASSERT_TRUE(replies.waitFor(1));
  EXPECT_EQ(replies.items()[0].error().code, BusError::Code::Disconnected);
}

// An executor that runs tasks on the posting thread: handed to call(), the
// answer runs on the bus's own queue.
class ImmediateQueue final : public dispatch::Executor {
 public:
  void post(dispatch::Task task) override { task(); }
  dispatch::DelayedTask postAt(dispatch::TimePoint, dispatch::Task task) override {
    task();
    return {};
  }
  dispatch::TimePoint now() const override { return dispatch::TimePoint(0); }
  bool isCurrent() const override { return true; }
};

TEST_F(SdBusConnectionTest, AWaitingCallOnTheBusQueueIsRefused) {
  std::shared_ptr<Bus> bus = open(BusKind::Session);
  ASSERT_TRUE(bus);
  std::promise<Bus::Reply> inner;
  const BusMethodCall ping{"org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus.Peer", "Ping"};
  bus->call(ping, std::make_shared<ImmediateQueue>(),
            [&](Bus::Reply) { inner.set_value(bus->callAndWait(ping)); });
  std::future<Bus::Reply> answer = inner.get_future();
  ASSERT_EQ(answer.wait_for(5s), std::future_status::ready);
  Bus::Reply reply = answer.get();
  ASSERT_FALSE(reply.ok());
  EXPECT_EQ(reply.error().code, BusError::Code::WrongContext);
}

TEST_F(SdBusConnectionTest, CallsFromManyThreadsEachGetTheirOwnAnswer) {
  TestBusService echo(BusEnvironment::buses->session().address(), "com.example.Echo");
  ASSERT_TRUE(echo.ok()) << echo.error();
  echo.onMethod("/com/example/Echo", "com.example.Echo", "Echo",
                [](const TestBusService::Call& call) { return Answer::reply(call.args); });
  std::shared_ptr<Bus> bus = open(BusKind::Session);
  ASSERT_TRUE(bus);
  constexpr int kThreads = 4;
  constexpr int kCalls = 50;
  Inbox<std::pair<int32_t, Bus::Reply>> replies(queue_);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kCalls; ++i) {
        const int32_t tag = t * 1000 + i;
        bus->call(BusMethodCall{"com.example.Echo",
                                "/com/example/Echo",
                                "com.example.Echo",
                                "Echo",
                                {BusValue(tag)},
                                5s},
                  queue_, [&replies, tag](Bus::Reply reply) {
                    replies.handler()({tag, std::move(reply)});
                  });
      }
    });
  }
  for (auto& thread : threads) thread.join();
  ASSERT_TRUE(replies.waitFor(kThreads * kCalls, 10s));
  EXPECT_TRUE(replies.allOnQueue());
  std::set<int32_t> tags;
  for (const auto& [tag, reply] : replies.items()) {
    ASSERT_TRUE(reply.ok()) << reply.error().describe();
    EXPECT_EQ(reply.value(), std::vector<BusValue>{BusValue(tag)});
    tags.insert(tag);
  }
  EXPECT_EQ(tags.size(), static_cast<size_t>(kThreads * kCalls));
}

}  // namespace
}  // namespace vistrelle::bus
