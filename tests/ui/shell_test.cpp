// The application shell as a user meets it: the real executable on an X
// server without a tray host.

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "support/child_process.h"
#include "support/x_client.h"
#include "support/xvfb_server.h"

namespace vistrelle {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

using testing::XClient;

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (xvfb.display().empty()) GTEST_SKIP() << "no X display and no Xvfb to start one";
    std::string pattern = (fs::temp_directory_path() / "vistrelle-shell-XXXXXX").string();
    home = mkdtemp(pattern.data());
  }
  void TearDown() override {
    if (!home.empty()) fs::remove_all(home);
  }

  std::unique_ptr<testing::ChildProcess> launch() {
    return std::make_unique<testing::ChildProcess>(
        std::vector<std::string>{VISTRELLE_APP_PATH},
        std::vector<std::string>{"DISPLAY=" + xvfb.display(), "HOME=" + home.string(),
                                 "XDG_CONFIG_HOME=" + (home / "config").string(),
                                 "QT_QPA_PLATFORM=xcb", "LANG=en_US.UTF-8"});
  }

  std::vector<XClient::Window> waitForWindow(XClient& x) {
    // Generous: under the sanitizers and a loaded machine Qt starts slowly.
    for (int i = 0; i < 600; ++i) {
      auto windows = x.viewableWindowsNamed("Vistrelle");
      if (!windows.empty()) return windows;
      std::this_thread::sleep_for(50ms);
    }
    return {};
  }

  static size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }

  testing::XvfbServer xvfb;
  fs::path home;
};

TEST_F(ShellTest, ShowsOneHomeWindowAndClosingItQuitsWithoutATray) {
  XClient x(xvfb.display());
  ASSERT_TRUE(x.ok());
  auto app = launch();
  auto windows = waitForWindow(x);
  ASSERT_EQ(windows.size(), 1u) << app->output();
  EXPECT_EQ(windows[0].width, 420);
  EXPECT_EQ(windows[0].height, 620);
  // The launch wrote its three defaults.
  EXPECT_TRUE(fs::exists(home / "config" / "vistrelle" / "user-defaults.json"));

  x.requestClose(windows[0].id);
  auto status = app->waitExit(10s);
  ASSERT_TRUE(status) << "closing the only way in must end the application";
  EXPECT_EQ(*status, 0);
  EXPECT_EQ(count(app->output(), "exit clean-up"), 1u) << app->output();
}

TEST_F(ShellTest, TerminationSignalsRunTheCleanUpOnceAndExitZero) {
  XClient x(xvfb.display());
  ASSERT_TRUE(x.ok());
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    auto app = launch();
    ASSERT_FALSE(waitForWindow(x).empty()) << app->output();
    app->signal(signal);
    app->signal(signal);  // a second signal while quitting changes nothing
    auto status = app->waitExit(10s);
    ASSERT_TRUE(status) << "signal " << signal;
    EXPECT_EQ(*status, 0) << "signal " << signal;
    EXPECT_EQ(count(app->output(), "exit clean-up"), 1u) << app->output();
  }
}

}  // namespace
}  // namespace vistrelle
