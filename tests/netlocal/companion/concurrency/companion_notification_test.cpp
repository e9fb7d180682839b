#include "netlocal/companion/companion_notification.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>

#include "platform/bus/fake/fake_bus.h"
#include "platform/bus/fake/fake_bus_connector.h"
#include "support/bus/bus_monitor.h"
#include "support/bus/private_buses.h"
#include "support/companion/companion_server_harness.h"

namespace vistrelle::netlocal {
namespace {

using namespace std::chrono_literals;
using testing::CompanionServerHarness;

// The private buses start before any runtime thread: their addresses go into
// the environment.
class CompanionNotificationTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { buses = std::make_unique<testing::PrivateBuses>(); }
  static void TearDownTestSuite() { buses.reset(); }
  static inline std::unique_ptr<testing::PrivateBuses> buses;
};

TEST_F(CompanionNotificationTest, ASessionBusSignalCarriesTheJson) {
  ASSERT_TRUE(buses->ok()) << buses->error();
  testing::BusMonitor monitor(buses->session().address(),
                              "type='signal',interface='com.quarnelbistox.ORVEXSpace'");
  ASSERT_TRUE(monitor.ready());
  CompanionServerHarness h;  // the default emitter: sd-bus at the session's address
  h.server->notificationSocketPort();
  h.main->advanceBy(500ms);
  const std::string json =
      "{\"socket_fd\":0,\"type\":" + std::to_string(h.server->serverPort()) + "}";
  EXPECT_TRUE(
      monitor.waitFor("path=/com/quarnelbistox/ORVEXSpace; "
                      "interface=com.quarnelbistox.ORVEXSpace; member=notification"))
      << monitor.output();
  EXPECT_TRUE(monitor.waitFor("string \"" + json + "\"")) << monitor.output();
  EXPECT_EQ(h.countLogs("JSON string: " + json), 1u);
  EXPECT_EQ(h.countLogs("通知未发送"), 0u);
}

TEST_F(CompanionNotificationTest, NoSessionBusIsLoggedAndDropped) {
  const std::string saved = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/vistrelle/bus", 1);
  {
    CompanionServerHarness h;
    h.server->pushNotificationWithDict({{"type", 1}});
    h.pumpUntil([&] { return h.countLogs("通知未发送: ") == 1; });
    EXPECT_EQ(h.countLogs("JSON string: {\"type\":1}"), 1u);
  }
  ::setenv("DBUS_SESSION_BUS_ADDRESS", saved.c_str(), 1);
}

TEST(CompanionNotificationFake, OneSignalPerTextAndTheBusIsClosed) {
  dispatch::Runtime runtime(std::make_shared<dispatch::VirtualExecutor>(),
                            dispatch::Runtime::Options{2});
  auto connector = std::make_shared<bus::FakeBusConnector>();
  auto session = bus::FakeBus::create(bus::BusKind::Session);
  connector->setBus(bus::BusKind::Session, session);
  std::vector<std::string> logs;
  const auto emit = CompanionNotification::busEmitter(connector);
  emit("{\"type\":1}", [&](std::string_view line) { logs.emplace_back(line); });
  ASSERT_EQ(session->emitted().size(), 1u);
  const bus::BusSignal signal = session->emitted()[0];
  EXPECT_EQ(signal.path, "/com/quarnelbistox/ORVEXSpace");
  EXPECT_EQ(signal.interface, "com.quarnelbistox.ORVEXSpace");
  EXPECT_EQ(signal.member, "notification");
  ASSERT_EQ(signal.args.size(), 1u);
  EXPECT_EQ(signal.args[0], bus::BusValue("{\"type\":1}"));
  EXPECT_FALSE(session->isOpen());
  EXPECT_TRUE(logs.empty());

  connector->setNoBus(bus::BusKind::Session, "no session here");
  emit("{\"type\":2}", [&](std::string_view line) { logs.emplace_back(line); });
  ASSERT_EQ(logs.size(), 1u);
  EXPECT_NE(logs[0].find("no session here"), std::string::npos) << logs[0];
}

}  // namespace
}  // namespace vistrelle::netlocal
