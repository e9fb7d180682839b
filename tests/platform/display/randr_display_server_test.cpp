#include "platform/display/linux/randr_display_server.h"

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "platform/capture/linux/xcb_screen_grabber.h"
#include "support/xorg_dummy_server.h"

namespace vistrelle::display {
namespace {

using namespace std::chrono_literals;
using testing::DummyLayout;
using testing::XorgDummyServer;

class RandrDisplayServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    xorg_ = new XorgDummyServer();
    if (xorg_->running()) {
      std::string error;
      if (!xorg_->bringUpGlasses(&error)) setUpError_ = error;
    } else {
      setUpError_ = xorg_->error();
    }
  }
  static void TearDownTestSuite() {
    delete xorg_;
    xorg_ = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(setUpError_.empty()) << setUpError_;
    ASSERT_TRUE(xorg_->setLayout(DummyLayout::Extended));
  }

  DisplayLayout read() {
    auto layout = server_.layout(false, DisplayServer::kDefaultLimit);
    EXPECT_TRUE(layout.ok()) << layout.error().reason;
    return layout ? layout.value() : DisplayLayout{};
  }
  const DisplayOutput& output(const DisplayLayout& layout, const char* name) {
    const DisplayOutput* found = layout.findByName(name);
    EXPECT_NE(found, nullptr) << name;
    static const DisplayOutput none;
    return found != nullptr ? *found : none;
  }
  static uint32_t modeOfWidth(const DisplayOutput& output, int width) {
    for (const DisplayMode& mode : output.modes) {
      if (mode.width == width) return mode.id;
    }
    return 0;
  }

  static XorgDummyServer* xorg_;
  static std::string setUpError_;
  RandrDisplayServer server_{xorg_->display()};
};

XorgDummyServer* RandrDisplayServerTest::xorg_ = nullptr;
std::string RandrDisplayServerTest::setUpError_;

TEST_F(RandrDisplayServerTest, ReadsOutputsWithTheirMonitorNamesTypesAndModes) {
  const DisplayLayout layout = read();
  ASSERT_EQ(layout.outputs.size(), 16u);
  const DisplayOutput& builtin = output(layout, "DUMMY0");
  const DisplayOutput& glasses = output(layout, "DUMMY1");
  EXPECT_EQ(builtin.connectorType, "Panel");
  EXPECT_TRUE(builtin.builtin());
  EXPECT_EQ(builtin.name(), "DUMMY0");  // no EDID: the connector's name
  EXPECT_EQ(glasses.monitorName, "ORVEX Glass");
  EXPECT_EQ(glasses.name(), "ORVEX Glass");
  EXPECT_FALSE(glasses.builtin());
  EXPECT_EQ(layout.primary, builtin.id);
  EXPECT_EQ(layout.screenWidth, 3840);
  EXPECT_EQ(layout.screenHeight, 1080);

  EXPECT_TRUE(glasses.active());
  EXPECT_EQ(std::tie(glasses.x, glasses.y, glasses.width, glasses.height),
            std::make_tuple(1920, 0, 1920, 1080));
  ASSERT_NE(glasses.currentMode(), nullptr);
  EXPECT_EQ(glasses.currentMode()->width, 1920);
  // The modes as the server lists them: the two the glasses were given first.
  ASSERT_GE(glasses.modes.size(), 2u);
  EXPECT_EQ(std::make_pair(glasses.modes[0].width, glasses.modes[0].height),
            std::make_pair(1920, 1080));
  EXPECT_EQ(std::make_pair(glasses.modes[1].width, glasses.modes[1].height),
            std::make_pair(3840, 1080));
  EXPECT_FALSE(output(layout, "DUMMY2").active());
  EXPECT_EQ(layout.activeOutputs().size(), 2u);

  // The display ids are the ones the screen capture uses for its displays.
  std::string reason;
  auto grabber = capture::XcbScreenGrabber::connect(xorg_->display().c_str(), &reason);
  ASSERT_NE(grabber, nullptr) << reason;
  std::vector<uint32_t> captured;
  for (const auto& display : grabber->displays()) captured.push_back(display.id);
  EXPECT_EQ(captured, (std::vector<uint32_t>{builtin.id, glasses.id}));
}

TEST_F(RandrDisplayServerTest, MovesOutputsChangesModesAndTheScreenFollows) {
  ASSERT_TRUE(xorg_->setLayout(DummyLayout::Mirrored, "DUMMY1"));
  DisplayLayout layout = read();
  const DisplayOutput glasses = output(layout, "DUMMY1");
  const DisplayOutput builtin = output(layout, "DUMMY0");
  const uint32_t wide = modeOfWidth(glasses, 3840);
  ASSERT_NE(wide, 0u);

  // Out of the mirror, the built-in primary again, the glasses 3840 wide:
  // the screen grows to hold them.
  auto applied =
      server_.apply({{{glasses.id, 1920, 0, wide}}, builtin.id}, DisplayServer::kDefaultLimit);
  ASSERT_TRUE(applied.ok()) << applied.error().reason;
  auto seen = xorg_->witness("DUMMY1");
  ASSERT_TRUE(seen.has_value());
  EXPECT_EQ(std::tie(seen->x, seen->y, seen->width, seen->height),
            std::make_tuple(1920, 0, 3840, 1080));
  EXPECT_FALSE(seen->primary);
  EXPECT_TRUE(xorg_->witness("DUMMY0")->primary);
  EXPECT_NE(xorg_->xrandr().find("current 5760 x 1080"), std::string::npos) << xorg_->xrandr();

  // Back to 1920: the screen shrinks to the outputs again.
  applied = server_.apply({{{glasses.id, 1920, 0, modeOfWidth(glasses, 1920)}}, 0},
                          DisplayServer::kDefaultLimit);
  ASSERT_TRUE(applied.ok()) << applied.error().reason;
  EXPECT_EQ(xorg_->witness("DUMMY1")->width, 1920);
  EXPECT_NE(xorg_->xrandr().find("current 3840 x 1080"), std::string::npos) << xorg_->xrandr();
  layout = read();
  EXPECT_EQ(layout.screenWidth, 3840);
}

TEST_F(RandrDisplayServerTest, RefusesWhatIsNotThereAndChangesNothing) {
  ASSERT_TRUE(xorg_->setLayout(DummyLayout::GlassesOff));
  const DisplayLayout layout = read();
  const DisplayOutput& builtin = output(layout, "DUMMY0");
  const DisplayOutput& glasses = output(layout, "DUMMY1");
  const std::string before = xorg_->xrandr();

  struct Case {
    const char* what;
    LayoutChange change;
  };
  const Case cases[] = {
      {"an unknown output", {{{0x7fff, 0, 0, 0}}, 0}},
      {"an output that is off", {{{glasses.id, 1920, 0, 0}}, 0}},
      {"a mode the output does not list", {{{builtin.id, 0, 0, 0x7fff}}, 0}},
  };
  for (const Case& c : cases) {
    auto applied = server_.apply(c.change, DisplayServer::kDefaultLimit);
    ASSERT_FALSE(applied.ok()) << c.what;
    EXPECT_EQ(applied.error().kind, DisplayError::Kind::Invalid) << c.what;
  }
  EXPECT_EQ(xorg_->xrandr(), before);
}

TEST_F(RandrDisplayServerTest, NudgesThePointerWhereItIs) {
  xcb_connection_t* c = xcb_connect(xorg_->display().c_str(), nullptr);
  ASSERT_FALSE(xcb_connection_has_error(c));
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  // A window over the whole screen hears every pointer motion.
  const xcb_window_t window = xcb_generate_id(c);
  const uint32_t events = XCB_EVENT_MASK_POINTER_MOTION;
  xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 3840, 1080, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_EVENT_MASK, &events);
  xcb_map_window(c, window);
  std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
  auto pointer = [&] {
    xcb_query_pointer_reply_t* reply =
        xcb_query_pointer_reply(c, xcb_query_pointer(c, screen->root), nullptr);
    const auto at = std::make_pair(reply->root_x, reply->root_y);
    std::free(reply);
    return at;
  };
  const auto before = pointer();

  auto nudged = server_.nudgePointer(DisplayServer::kDefaultLimit);
  ASSERT_TRUE(nudged.ok()) << nudged.error().reason;
  bool moved = false;
  const auto end = std::chrono::steady_clock::now() + 5s;
  while (!moved && std::chrono::steady_clock::now() < end) {
    xcb_generic_event_t* event = xcb_poll_for_event(c);
    if (event == nullptr) {
      std::this_thread::sleep_for(5ms);
      continue;
    }
    moved = (event->response_type & 0x7f) == XCB_MOTION_NOTIFY;
    std::free(event);
  }
  EXPECT_TRUE(moved);
  EXPECT_EQ(pointer(), before);
  xcb_disconnect(c);
}

// A server that stops answering costs a call its limit, and a lost one
// fails at once; the next call connects afresh.
TEST(RandrDisplayServerFailures, AStoppedServerTimesOutAndAKilledOneIsLost) {
  XorgDummyServer xorg;
  ASSERT_TRUE(xorg.running()) << xorg.error();
  RandrDisplayServer server(xorg.display());
  ASSERT_TRUE(server.layout(false, 2s).ok());

  ASSERT_EQ(kill(xorg.pid(), SIGSTOP), 0);
  const auto start = std::chrono::steady_clock::now();
  auto stopped = server.layout(false, 300ms);
  const auto waited = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(kill(xorg.pid(), SIGCONT), 0);
  ASSERT_FALSE(stopped.ok());
  EXPECT_EQ(stopped.error().kind, DisplayError::Kind::Timeout);
  EXPECT_GE(waited, 300ms);
  EXPECT_LT(waited, 2s);
  EXPECT_TRUE(server.layout(false, 2s).ok());

  xorg.kill();
  auto lost = server.layout(false, 2s);
  ASSERT_FALSE(lost.ok());
  EXPECT_TRUE(lost.error().kind == DisplayError::Kind::Lost ||
              lost.error().kind == DisplayError::Kind::NoServer)
      << lost.error().reason;
  auto again = server.apply({{}, 1}, 2s);
  ASSERT_FALSE(again.ok());
  EXPECT_EQ(again.error().kind, DisplayError::Kind::NoServer);
}

}  // namespace
}  // namespace vistrelle::display
