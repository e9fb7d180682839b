// Callers on several threads at once against one configuration and one
// server connection: every call answers, and the layout ends consistent.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "device/display/displays_rig.h"
#include "platform/dispatch/event_loop.h"
#include "platform/dispatch/runtime.h"
#include "platform/display/linux/randr_display_server.h"
#include "support/xorg_dummy_server.h"

namespace vistrelle::device {
namespace {

using testing::DisplaysRig;
using testing::DummyLayout;
using testing::XorgDummyServer;

TEST(DisplayConfigurationThreads, CallsFromManyThreadsShareOneConnection) {
  XorgDummyServer xorg;
  ASSERT_TRUE(xorg.running()) << xorg.error();
  ASSERT_TRUE(xorg.bringUpGlasses());
  ASSERT_TRUE(xorg.setLayout(DummyLayout::Mirrored, "DUMMY1"));
  DisplaysRig rig("", std::make_shared<display::RandrDisplayServer>(xorg.display()));
  const uint32_t glasses = rig.displays->outputIdForName("DUMMY1").value_or(0);
  ASSERT_NE(glasses, 0u);

  std::atomic<int> failures = 0;
  std::vector<std::thread> threads;
  threads.emplace_back([&] {
    for (int i = 0; i < 20; ++i) {
      if (!rig.displays->cancelGlassesMirrorAndMoveMain(false, true)) ++failures;
    }
  });
  threads.emplace_back([&] {
    for (int i = 0; i < 20; ++i) {
      rig.displays->resolutionSwitch(glasses, i % 2 ? 1920 : 3840, 1080, [&](bool done) {
        if (!done) ++failures;
      });
    }
  });
  threads.emplace_back([&] {
    for (int i = 0; i < 50; ++i) {
      if (rig.displays->screens().size() != 2) ++failures;
      if (!rig.displays->builtinScreen()) ++failures;
    }
  });
  threads.emplace_back([&] {
    for (int i = 0; i < 50; ++i) {
      if (rig.displays->onlineDisplayCount() < 2) ++failures;
      rig.displays->isDesktopHost();
    }
  });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);

  // The last switch asked for 1920; the glasses sit right of the panel, out
  // of the mirror, and the panel is main.
  EXPECT_TRUE(rig.displays->cancelGlassesMirrorAndMoveMain(true, true));
  auto panel = xorg.witness("DUMMY0");
  auto seen = xorg.witness("DUMMY1");
  ASSERT_TRUE(panel && seen);
  EXPECT_TRUE(panel->primary);
  EXPECT_EQ(std::make_tuple(panel->x, seen->x, seen->width), std::make_tuple(0, 1920, 1920));
}

// The connection is one of the things the runtime's stops close.
TEST(DisplayConfigurationThreads, TheRuntimesStopsCloseTheConnection) {
  XorgDummyServer xorg;
  ASSERT_TRUE(xorg.running()) << xorg.error();
  dispatch::Runtime runtime(std::make_shared<dispatch::EventLoop>(), {.workers = 2});
  display::RandrDisplayServer server(xorg.display());
  ASSERT_TRUE(server.layout(false, display::DisplayServer::kDefaultLimit).ok());
  runtime.runStops();
  auto closed = server.layout(false, display::DisplayServer::kDefaultLimit);
  ASSERT_FALSE(closed.ok());
  EXPECT_EQ(closed.error().kind, display::DisplayError::Kind::NoServer);
}

}  // namespace
}  // namespace vistrelle::device
