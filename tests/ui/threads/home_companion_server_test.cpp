// The home view's first showing makes the process' companion-application
// server, and a client on the loopback reaches it (the server's sockets run
// on the runtime's reactor thread).

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "app/orvex_home_new_view_controller.h"
#include "base/timer/gcx_timer.h"
#include "device/display/display_configuration.h"
#include "netlocal/companion/orvex_local_server.h"
#include "platform/dispatch/runtime.h"
#include "platform/display/fake/fake_display_server.h"
#include "support/app_delegate_rig.h"
#include "ui_harness.h"

namespace vistrelle {
namespace {

class IgnoredHomeView final : public HomeView {
 public:
  void setOutletHidden(HomeOutlet, bool) override {}
  void setBackgroundColor(HomeOutlet, const std::string&) override {}
  void setTipsText(const std::string&) override {}
};

TEST(HomeCompanionServer, AfterViewLoadAClientReachesTheCompanionServer) {
  // The server's log lines land in a home of the test's own.
  std::string pattern = (std::filesystem::temp_directory_path() / "vistrelle-home-XXXXXX").string();
  const std::string home = mkdtemp(pattern.data());
  setenv("HOME", home.c_str(), 1);
  testing::AppDelegateRig rig(dispatch::mainQueue());
  device::DisplayConfiguration::Options displayOptions;
  displayOptions.server = display::FakeDisplayServer::fromJson(
      R"({"outputs": [{"name": "eDP-1", "connector": "Panel", "mode": "1920x1200"}]})");
  const auto drop = [](std::string_view) {};
  displayOptions.printLog = drop;
  displayOptions.trace = drop;
  displayOptions.print = drop;
  displayOptions.log = drop;
  device::DisplayConfiguration displays(std::move(displayOptions));
  NotificationCenter center;
  GCXTimer timer(dispatch::mainQueue(), dispatch::mainQueue());
  IgnoredHomeView view;

  OrvexHomeNewViewController::Environment environment;
  environment.delegate = rig.delegate.get();
  environment.displays = &displays;
  environment.center = &center;
  environment.timer = &timer;
  environment.canRecordScreen = [] { return false; };
  OrvexHomeNewViewController controller(view, std::move(environment));
  controller.viewDidLoad();  // the companion server: the default

  const auto server = netlocal::OrvexLocalServer::shareManager();
  uitest::settle();
  const uint16_t port = server->listeningPort();
  ASSERT_NE(port, 0) << "listening once the view has loaded";

  const int client = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(client, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  // The accept comes from the reactor thread through the main queue.
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!server->isConnect() && std::chrono::steady_clock::now() < limit) {
    uitest::settle();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(server->isConnect());
  ::close(client);
  server->stop();
  uitest::settle();
  std::filesystem::remove_all(home);
}

}  // namespace
}  // namespace vistrelle
