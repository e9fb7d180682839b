// screenForOutput under Qt's xcb platform on an Xorg dummy server: the
// screen of an output, following its mode as RandR changes it.
#include "ui/screen_for_output.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <chrono>
#include <cstdlib>
#include <memory>

#include "support/xorg_dummy_for_qt.h"
#include "support/xorg_dummy_server.h"

namespace vistrelle::ui {
namespace {

using namespace std::chrono_literals;
using testing::DummyLayout;
using testing::XorgDummyServer;

XorgDummyServer* xorg = nullptr;

// Runs Qt's events until `done` holds (at most five seconds).
template <class Done>
bool processEventsUntil(Done done) {
  const auto end = std::chrono::steady_clock::now() + 5s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

TEST(ScreenForOutput, FollowsTheGlassesOutputFrom1920To3840) {
  QScreen* glasses = screenForOutput("DUMMY1");
  ASSERT_NE(glasses, nullptr);
  EXPECT_EQ(glasses->geometry(), QRect(1920, 0, 1920, 1080));
  EXPECT_EQ(screenForOutput(std::string("DUMMY0")), QGuiApplication::primaryScreen());
  EXPECT_EQ(screenForOutput("DUMMY2"), nullptr);  // off
  EXPECT_EQ(screenForOutput(""), nullptr);

  ASSERT_TRUE(xorg->setLayout(DummyLayout::GlassesWide));
  EXPECT_TRUE(processEventsUntil([] {
    QScreen* screen = screenForOutput("DUMMY1");
    return screen != nullptr && screen->geometry().width() == 3840;
  })) << xorg->xrandr();
  EXPECT_EQ(screenForOutput("DUMMY1")->geometry(), QRect(1920, 0, 3840, 1080));

  ASSERT_TRUE(xorg->setLayout(DummyLayout::GlassesOff));
  EXPECT_TRUE(processEventsUntil([] { return screenForOutput("DUMMY1") == nullptr; }));
}

}  // namespace
}  // namespace vistrelle::ui

// Qt goes to the dummy server, not to the shared display of the other tests.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  vistrelle::testing::XorgDummyServer server;
  if (!vistrelle::testing::useXorgDummyForQt(server)) return 1;
  vistrelle::ui::xorg = &server;
  int status = 0;
  {
    QGuiApplication application(argc, argv);
    status = RUN_ALL_TESTS();
  }
  return status;
}
