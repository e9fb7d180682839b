// The application shell as a user meets it: the real executable on an X
// server without a tray host.

#include <gtest/gtest.h>
#include <signal.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "support/child_process.h"
#include "support/xvfb_server.h"

namespace vistrelle {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

struct Window {
  xcb_window_t id;
  int width, height;
};

// The X side of the test: find the application's top-level window by title
// and ask it to close the way a window manager would.
class XClient {
 public:
  explicit XClient(const std::string& display)
      : connection_(xcb_connect(display.c_str(), nullptr)) {}
  ~XClient() { xcb_disconnect(connection_); }
  bool ok() const { return !xcb_connection_has_error(connection_); }

  std::vector<Window> viewableWindowsNamed(const std::string& title) {
    std::vector<Window> found;
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    auto* tree = xcb_query_tree_reply(connection_, xcb_query_tree(connection_, root), nullptr);
    if (!tree) return found;
    xcb_window_t* children = xcb_query_tree_children(tree);
    for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
      auto* attrs = xcb_get_window_attributes_reply(
          connection_, xcb_get_window_attributes(connection_, children[i]), nullptr);
      const bool viewable = attrs && attrs->map_state == XCB_MAP_STATE_VIEWABLE;
      free(attrs);
      if (!viewable) continue;
      auto* name =
          xcb_get_property_reply(connection_,
                                 xcb_get_property(connection_, 0, children[i], XCB_ATOM_WM_NAME,
                                                  XCB_GET_PROPERTY_TYPE_ANY, 0, 256),
                                 nullptr);
      std::string text = name ? std::string(static_cast<const char*>(xcb_get_property_value(name)),
                                            xcb_get_property_value_length(name))
                              : "";
      free(name);
      if (text != title) continue;
      auto* geometry =
          xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, children[i]), nullptr);
      if (geometry) found.push_back({children[i], geometry->width, geometry->height});
      free(geometry);
    }
    free(tree);
    return found;
  }

  void requestClose(xcb_window_t window) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom("WM_PROTOCOLS");
    event.data.data32[0] = atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection_, 0, window, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(connection_);
  }

 private:
  xcb_atom_t atom(const char* name) {
    auto* reply = xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 0, static_cast<uint16_t>(strlen(name)), name),
        nullptr);
    xcb_atom_t value = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    free(reply);
    return value;
  }
  xcb_connection_t* connection_;
};

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

  std::vector<Window> waitForWindow(XClient& x) {
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
