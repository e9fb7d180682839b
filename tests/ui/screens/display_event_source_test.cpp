// Display changes from Qt's screen signals under the xcb platform on an
// Xorg dummy server: each RandR change reaches the callback as the change
// it is, named by the output's RandR id, a removed screen included.
#include "ui/qt_display_event_source.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <chrono>
#include <cstdlib>
#include <vector>

#include "device/display/display_configuration.h"
#include "support/xorg_dummy_for_qt.h"
#include "support/xorg_dummy_server.h"

namespace vistrelle::ui {
namespace {

using namespace std::chrono_literals;
using testing::DummyLayout;
using testing::XorgDummyServer;

XorgDummyServer* xorg = nullptr;

struct Event {
  uint32_t id;
  uint32_t flags;
  bool operator==(const Event&) const = default;
};

template <class Done>
bool processEventsUntil(Done done) {
  const auto end = std::chrono::steady_clock::now() + 5s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

bool contains(const std::vector<Event>& events, Event event) {
  return std::find(events.begin(), events.end(), event) != events.end();
}

TEST(QtDisplayEventSource, RandrChangesArriveAsAddRemoveModeAndMainByOutputId) {
  device::DisplayConfiguration displays;  // RandR on the dummy server
  const auto builtin = displays.outputIdForName(XorgDummyServer::kBuiltin);
  const auto glasses = displays.outputIdForName(XorgDummyServer::kGlasses);
  ASSERT_TRUE(builtin && glasses);
  ASSERT_NE(*builtin, *glasses);
  std::vector<Event> events;
  QtDisplayEventSource source(
      [&](uint32_t id, uint32_t flags) {
        events.push_back({id, flags});
      },
      [&](const std::string& output) { return displays.outputIdForName(output); });

  // The glasses go wide: their screen's geometry changes.
  ASSERT_TRUE(xorg->setLayout(DummyLayout::GlassesWide));
  EXPECT_TRUE(processEventsUntil([&] {
    return contains(events, {*glasses, 8});
  })) << xorg->xrandr();

  // Off: their screen goes, still named by their output.
  events.clear();
  ASSERT_TRUE(xorg->setLayout(DummyLayout::GlassesOff));
  EXPECT_TRUE(processEventsUntil([&] { return contains(events, {*glasses, 32}); }));

  // On again: a new screen.
  events.clear();
  ASSERT_TRUE(xorg->setLayout(DummyLayout::Extended));
  EXPECT_TRUE(processEventsUntil([&] { return contains(events, {*glasses, 16}); }));

  // The glasses made the main display.
  events.clear();
  ASSERT_TRUE(xorg->setLayout(DummyLayout::Extended, XorgDummyServer::kGlasses));
  EXPECT_TRUE(processEventsUntil([&] { return contains(events, {*glasses, 4}); }));
  for (const Event& event : events) {
    EXPECT_TRUE(event.id == *glasses || event.id == *builtin) << event.id;
  }
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
