// The status item as a StatusNotifier host sees it: the real executable on an
// X server and a private session bus, and this test as the desktop's
// org.kde.StatusNotifierWatcher.  The item registers itself, exports no menu,
// and the host's ContextMenu call (what a panel sends on a right click to an
// item without a menu) opens the exit view.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "support/bus/private_bus_daemon.h"
#include "support/bus/test_bus_service.h"
#include "support/child_process.h"
#include "support/x_client.h"
#include "support/xvfb_server.h"
#include "ui/orvex_exit_app_view_controller.h"

namespace vistrelle {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using bus::BusValue;
using testing::TestBusService;
using testing::XClient;

const char* const kWatcher = "org.kde.StatusNotifierWatcher";
const char* const kWatcherPath = "/StatusNotifierWatcher";
const char* const kItemInterface = "org.kde.StatusNotifierItem";

// What a host's watcher says about itself; Qt reads the host flag through it.
const char* const kWatcherIntrospection = R"(<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
  </interface>
</node>)";

template <typename Predicate>
bool waitUntil(Predicate done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

class StatusNotifierTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (xvfb.display().empty()) GTEST_SKIP() << "no X display and no Xvfb to start one";
    ASSERT_TRUE(session.running()) << session.error();
    std::string pattern = (fs::temp_directory_path() / "vistrelle-sni-XXXXXX").string();
    home = mkdtemp(pattern.data());

    watcher = std::make_unique<TestBusService>(session.address(), kWatcher);
    ASSERT_TRUE(watcher->ok()) << watcher->error();
    watcher->onMethod(kWatcherPath, "org.freedesktop.DBus.Introspectable", "Introspect",
                      [](const TestBusService::Call&) {
                        return TestBusService::Answer::reply({BusValue(kWatcherIntrospection)});
                      });
    watcher->onMethod(kWatcherPath, kWatcher, "RegisterStatusNotifierItem",
                      [](const TestBusService::Call&) { return TestBusService::Answer::reply(); });
    watcher->setProperty(kWatcherPath, kWatcher, "IsStatusNotifierHostRegistered", BusValue(true));
    watcher->setProperty(kWatcherPath, kWatcher, "ProtocolVersion", BusValue(int32_t{0}));
    watcher->setProperty(kWatcherPath, kWatcher, "RegisteredStatusNotifierItems",
                         BusValue::array("s", {}));
  }
  void TearDown() override {
    app.reset();
    if (!home.empty()) fs::remove_all(home);
  }

  void launch() {
    app = std::make_unique<testing::ChildProcess>(
        std::vector<std::string>{VISTRELLE_APP_PATH},
        std::vector<std::string>{"DISPLAY=" + xvfb.display(), "HOME=" + home.string(),
                                 "XDG_CONFIG_HOME=" + (home / "config").string(),
                                 "DBUS_SESSION_BUS_ADDRESS=" + session.address(),
                                 "XDG_CURRENT_DESKTOP=", "QT_QPA_PLATFORM=xcb",
                                 "LANG=zh_CN.UTF-8"});
  }

  // The item's bus name, from its registration with the watcher.
  std::string registeredItem() {
    for (const auto& call : watcher->calls()) {
      if (call.member == "RegisterStatusNotifierItem" && !call.args.empty() &&
          call.args[0].asString()) {
        const std::string& service = *call.args[0].asString();
        // A host accepts a bus name, or an object path on the caller's name.
        return service.empty() || service[0] == '/' ? call.sender : service;
      }
    }
    return {};
  }

  std::optional<XClient::Window> exitPopup(XClient& x) {
    for (const auto& window : x.viewableWindows()) {
      if (window.overrideRedirect && window.width == ui::OrvexExitAppViewController::kWidth &&
          window.height == ui::OrvexExitAppViewController::kHeight)
        return window;
    }
    return std::nullopt;
  }

  testing::XvfbServer xvfb;
  testing::PrivateBusDaemon session{"session"};
  std::unique_ptr<TestBusService> watcher;
  std::unique_ptr<testing::ChildProcess> app;
  fs::path home;
};

TEST_F(StatusNotifierTest, TheHostsContextMenuCallOpensTheExitView) {
  XClient x(xvfb.display());
  ASSERT_TRUE(x.ok());
  launch();
  std::string item;
  ASSERT_TRUE(waitUntil([&] { return !(item = registeredItem()).empty(); }, 30s))
      << "the item never registered with the watcher\n"
      << app->output();

  // It exports no menu: the host is to call ContextMenu on a right click.
  auto menu = watcher->call({item,
                             "/StatusNotifierItem",
                             "org.freedesktop.DBus.Properties",
                             "Get",
                             {BusValue(kItemInterface), BusValue("Menu")},
                             5000ms});
  ASSERT_TRUE(menu.ok()) << menu.error().message;
  ASSERT_EQ(menu.value().size(), 1u);
  const std::string* path = menu.value()[0].unboxed().asObjectPath();
  ASSERT_NE(path, nullptr);
  EXPECT_EQ(*path, "/NO_DBUSMENU");
  EXPECT_FALSE(exitPopup(x)) << "nothing is open before the call";

  auto answer = watcher->call({item,
                               "/StatusNotifierItem",
                               kItemInterface,
                               "ContextMenu",
                               {BusValue(int32_t{700}), BusValue(int32_t{300})},
                               5000ms});
  ASSERT_TRUE(answer.ok()) << answer.error().message;
  std::optional<XClient::Window> popup;
  ASSERT_TRUE(waitUntil([&] { return (popup = exitPopup(x)).has_value(); }, 10s))
      << "no exit view appeared\n"
      << app->output();
  // The exit view's light grey, drawn on the screen (the popup's corner sits
  // beside the button, which is the same grey until the pointer is over it).
  std::optional<uint32_t> colour;
  EXPECT_TRUE(waitUntil([&] { return (colour = x.pixel(popup->id, 4, 26)) == 0xE7E9E7u; }, 5s))
      << std::hex << colour.value_or(0);

  app->signal(SIGTERM);
  auto status = app->waitExit(10s);
  ASSERT_TRUE(status);
  EXPECT_EQ(*status, 0);
}

}  // namespace
}  // namespace vistrelle
