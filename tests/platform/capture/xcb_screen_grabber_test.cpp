#include "platform/capture/linux/xcb_screen_grabber.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/capture/x11_painter.h"
#include "support/scoped_environment.h"
#include "support/xvfb_server.h"

namespace vistrelle::capture {
namespace {

using vistrelle::testing::ScopedEnvironment;

using ::testing::HasSubstr;

struct Bgra {
  uint8_t b, g, r, a;
  bool operator==(const Bgra&) const = default;
};

Bgra pixel(const CaptureFrame& frame, int x, int y) {
  const uint8_t* p = frame.row(y) + 4 * x;
  return {p[0], p[1], p[2], p[3]};
}

class XcbGrabberTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!server_.available()) GTEST_SKIP() << "Xvfb is not installed: X11 capture not tested";
    ASSERT_TRUE(painter_.ok());
    std::string reason;
    grabber_ = XcbScreenGrabber::connect(server_.display().c_str(), &reason);
    ASSERT_NE(grabber_, nullptr) << reason;
  }

  testing::XvfbServer server_{320, 200};
  testing::X11Painter painter_{server_.display()};
  std::unique_ptr<XcbScreenGrabber> grabber_;
};

TEST_F(XcbGrabberTest, PatternOnTheRootComesBackAsOpaqueBgra) {
  painter_.fill(0, 0, 160, 200, 0xff0000);
  painter_.fill(160, 0, 160, 100, 0x00ff00);
  painter_.fill(160, 100, 160, 100, 0x0000ff);
  painter_.fill(40, 40, 1, 1, 0x123456);
  painter_.movePointer(300, 190);
  std::string reason;
  ASSERT_TRUE(grabber_->open(grabber_->mainDisplayId(), true, &reason)) << reason;
  auto frame = grabber_->grab(&reason);
  ASSERT_NE(frame, nullptr) << reason;
  EXPECT_TRUE(grabber_->usesSharedMemory());
  EXPECT_EQ(frame->width(), 320);
  EXPECT_EQ(frame->height(), 200);
  EXPECT_EQ(pixel(*frame, 10, 10), (Bgra{0, 0, 255, 255}));
  EXPECT_EQ(pixel(*frame, 159, 150), (Bgra{0, 0, 255, 255}));
  EXPECT_EQ(pixel(*frame, 160, 50), (Bgra{0, 255, 0, 255}));
  EXPECT_EQ(pixel(*frame, 200, 150), (Bgra{255, 0, 0, 255}));
  EXPECT_EQ(pixel(*frame, 40, 40), (Bgra{0x56, 0x34, 0x12, 255}));
  EXPECT_GT(frame->timestamp().count(), 0);
}

TEST_F(XcbGrabberTest, CursorIsDrawnWhereThePointerIs) {
  painter_.fill(0, 0, 320, 200, 0x808080);
  painter_.movePointer(100, 100);
  std::string reason;
  const uint32_t id = grabber_->mainDisplayId();
  ASSERT_TRUE(grabber_->open(id, false, &reason)) << reason;
  auto plain = grabber_->grab(&reason);
  ASSERT_NE(plain, nullptr) << reason;
  ASSERT_TRUE(grabber_->open(id, true, &reason)) << reason;
  auto withCursor = grabber_->grab(&reason);
  ASSERT_NE(withCursor, nullptr) << reason;
  int changedNear = 0, changedFar = 0;
  for (int y = 0; y < 200; ++y) {
    for (int x = 0; x < 320; ++x) {
      const bool changed = !(pixel(*plain, x, y) == pixel(*withCursor, x, y));
      const bool near = std::abs(x - 100) <= 32 && std::abs(y - 100) <= 32;
      (near ? changedNear : changedFar) += changed ? 1 : 0;
      ASSERT_EQ(pixel(*withCursor, x, y).a, 255);
    }
  }
  if (changedNear == 0) GTEST_SKIP() << "this X server shows no cursor image";
  EXPECT_EQ(changedFar, 0);
}

TEST_F(XcbGrabberTest, MainDisplayIsTheOutputsMonitor) {
  const auto displays = grabber_->displays();
  ASSERT_EQ(displays.size(), 1u);
  EXPECT_EQ(grabber_->mainDisplayId(), displays[0].id);
  EXPECT_EQ(displays[0].width, 320);
  EXPECT_EQ(displays[0].height, 200);
}

TEST_F(XcbGrabberTest, UnknownDisplayIdIsRefused) {
  std::string reason;
  EXPECT_FALSE(grabber_->open(0xdeadbeef, true, &reason));
  EXPECT_THAT(reason, HasSubstr("no display with id"));
  EXPECT_EQ(grabber_->grab(&reason), nullptr);
  EXPECT_EQ(reason, "no display is open");
}

TEST_F(XcbGrabberTest, PoolRunsDryInsteadOfGrowing) {
  std::string reason;
  ASSERT_TRUE(grabber_->open(grabber_->mainDisplayId(), false, &reason));
  std::vector<std::shared_ptr<CaptureFrame>> held;
  for (int i = 0; i < 5; ++i) {
    held.push_back(grabber_->grab(&reason));
    ASSERT_NE(held.back(), nullptr) << i << " " << reason;
  }
  EXPECT_EQ(grabber_->grab(&reason), nullptr);
  EXPECT_EQ(reason, "every capture frame is still in use");
  held.pop_back();
  EXPECT_NE(grabber_->grab(&reason), nullptr);
}

TEST_F(XcbGrabberTest, FollowsAModeChangeWithoutAFailedGrab) {
  std::string reason;
  ASSERT_TRUE(grabber_->open(grabber_->mainDisplayId(), false, &reason)) << reason;
  ASSERT_NE(grabber_->grab(&reason), nullptr) << reason;
  ASSERT_TRUE(painter_.setMode(160, 100)) << "this Xvfb cannot change its mode";
  painter_.fill(0, 0, 160, 100, 0x00ff00);
  // Shrunk: the old rectangle is refused; the display is opened again at once.
  auto small = grabber_->grab(&reason);
  ASSERT_NE(small, nullptr) << reason;
  EXPECT_EQ(small->width(), 160);
  EXPECT_EQ(small->height(), 100);
  EXPECT_EQ(pixel(*small, 150, 90), (Bgra{0, 255, 0, 255}));
  EXPECT_EQ(grabber_->displays().at(0).width, 160);

  // Grown back: the old rectangle still fits, so the change shows by the
  // RandR notice, at the latest one grab later.
  ASSERT_TRUE(painter_.setMode(320, 200));
  painter_.fill(0, 0, 320, 200, 0x0000ff);
  std::shared_ptr<CaptureFrame> frame;
  for (int i = 0; i < 2 && (!frame || frame->width() != 320); ++i) {
    frame = grabber_->grab(&reason);
    ASSERT_NE(frame, nullptr) << reason;
  }
  EXPECT_EQ(frame->width(), 320);
  EXPECT_EQ(frame->height(), 200);
  EXPECT_EQ(pixel(*frame, 300, 190), (Bgra{255, 0, 0, 255}));
}

TEST(XcbGrabberFormat, ReadsTheServersPixelFormatAndRefusesWhatItCannotRead) {
  testing::XvfbServer deep(64, 48, 24);
  testing::XvfbServer shallow(64, 48, 16);
  if (!deep.available() || !shallow.available()) GTEST_SKIP() << "Xvfb is not installed";
  std::string reason;
  auto grabber = XcbScreenGrabber::connect(deep.display().c_str(), &reason);
  ASSERT_NE(grabber, nullptr) << reason;
  EXPECT_TRUE(grabber->pixelLayout().isBgrx());
  EXPECT_EQ(XcbScreenGrabber::connect(shallow.display().c_str(), &reason), nullptr);
  EXPECT_THAT(reason, HasSubstr("16 bits per pixel"));
  EXPECT_THAT(reason, HasSubstr("cannot be captured"));
}

TEST(XcbGrabberConnect, RefusesWhatIsNoReadableX11Display) {
  struct Case {
    const char* display;
    const char* sessionType;
    const char* waylandDisplay;
    const char* reason;
  };
  const Case cases[] = {
      // Xwayland: DISPLAY works, but the root window misses the Wayland windows.
      {":0", "wayland", nullptr, XcbScreenGrabber::kWaylandSessionReason},
      {":0", nullptr, "wayland-0", XcbScreenGrabber::kWaylandSessionReason},
      {nullptr, "wayland", "wayland-0", XcbScreenGrabber::kWaylandSessionReason},
      {nullptr, "x11", nullptr, "screen capture needs an X11 display: DISPLAY is not set"},
      {"", nullptr, "", "screen capture needs an X11 display: DISPLAY is not set"},
  };
  for (const Case& c : cases) {
    ScopedEnvironment display("DISPLAY", c.display);
    ScopedEnvironment sessionType("XDG_SESSION_TYPE", c.sessionType);
    ScopedEnvironment wayland("WAYLAND_DISPLAY", c.waylandDisplay);
    std::string reason;
    EXPECT_EQ(XcbScreenGrabber::connect(nullptr, &reason), nullptr);
    EXPECT_EQ(reason, c.reason) << (c.display ? c.display : "(unset)") << " "
                                << (c.sessionType ? c.sessionType : "(unset)");
  }
  std::string reason;
  EXPECT_EQ(XcbScreenGrabber::connect(":4321", &reason), nullptr);
  EXPECT_THAT(reason, HasSubstr("cannot open X11 display \":4321\""));
}

TEST_F(XcbGrabberTest, AnX11SessionCapturesItsOwnDisplay) {
  ScopedEnvironment display("DISPLAY", server_.display().c_str());
  ScopedEnvironment sessionType("XDG_SESSION_TYPE", "x11");
  ScopedEnvironment wayland("WAYLAND_DISPLAY", nullptr);
  std::string reason;
  EXPECT_NE(XcbScreenGrabber::connect(nullptr, &reason), nullptr) << reason;
}

}  // namespace
}  // namespace vistrelle::capture
