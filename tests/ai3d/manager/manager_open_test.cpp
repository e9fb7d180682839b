// Opening, placing and closing the 3D window on virtual time: one
// generation per open, every wait a timer, every stage stopped by a later
// open, a close, the window's close or the glasses going.
#include <gtest/gtest.h>

#include "manager_rig.h"

namespace vistrelle::ai3d {
namespace {

using testing::ManagerRig;
using testing::RigOptions;
using namespace std::chrono_literals;
using Calls = std::vector<std::string>;

// From the open: the search's first pass at 1 s finds the screen, the
// placement at 2 s moves the window, the check at 2.5 s finds it there.
constexpr auto kPlaced = 2500ms;

TEST(DepthManagerOpen, OpensOnTheGlassesScreenThenCapturesAndSendsTheDutyCommands) {
  ManagerRig rig;
  rig.state.isCloseIMU.store(true);
  rig.manager->open3DWindow();
  rig.settle();
  ASSERT_NE(rig.window, nullptr);
  EXPECT_TRUE(rig.window->visible);
  EXPECT_EQ(rig.glasses.calls(), Calls{"3D on"});
  EXPECT_TRUE(rig.logs("AI 3D window: raster (fake)"));

  rig.advance(kPlaced - 1ms);
  EXPECT_EQ(rig.glasses.calls(), (Calls{"3D on", "IMU on"}));
  EXPECT_TRUE(rig.posted.empty());
  EXPECT_EQ(rig.window->moves, 1);
  EXPECT_TRUE(rig.logs("====3D窗口不在眼镜屏幕上===="));
  rig.advance(1ms);
  EXPECT_EQ(rig.posted, std::vector<int>{1});
  EXPECT_EQ(rig.onGlassesWhenPosted, std::vector<bool>{true}) << "set before the post";
  EXPECT_TRUE(rig.window->fullScreen);
  EXPECT_TRUE(rig.capturing());
  EXPECT_EQ(rig.timer.liveCount(), 0u) << "the start check is cancelled";
  EXPECT_EQ(rig.manager->checkStartTimerString(), "");

  // The duty commands come 3 s after the screen was found (at 1 s).
  rig.advance(4s - kPlaced - 1ms);
  EXPECT_EQ(rig.glasses.calls().size(), 2u);
  rig.advance(1ms);
  EXPECT_EQ(rig.glasses.calls().back(), "duty 9");
  rig.advance(50ms);
  EXPECT_EQ(rig.glasses.calls(), (Calls{"3D on", "IMU on", "duty 9", "wear detection on"}));
}

TEST(DepthManagerOpen, OpeningTwiceCancelsTheFirstCheckAndSearchesOnce) {
  ManagerRig rig;
  rig.manager->open3DWindow();
  rig.settle();
  rig.advance(500ms);
  const std::string firstCheck = rig.manager->checkStartTimerString();
  rig.manager->open3DWindow();
  rig.settle();
  EXPECT_NE(rig.manager->checkStartTimerString(), firstCheck);
  EXPECT_FALSE(rig.timer.isLive(firstCheck));
  EXPECT_EQ(rig.timer.liveCount(), 1u);

  rig.advance(kPlaced);
  EXPECT_EQ(rig.screens.scans, 1) << "the first open's search ended before its first pass";
  EXPECT_EQ(rig.windowsMade, 1);
  EXPECT_EQ(rig.window->shows, 2) << "the same window, shown again";
  EXPECT_EQ(rig.posted, std::vector<int>{1});
  EXPECT_EQ(rig.timer.liveCount(), 0u) << "neither check is left to report 0";
  rig.advance(2s);
  EXPECT_EQ(rig.glasses.calls(), (Calls{"3D on", "3D on", "duty 9", "wear detection on"}));
}

TEST(DepthManagerOpen, ACloseDuringTheOpenNeverShowsTheWindowAgain) {
  struct Case {
    const char* stage;
    dispatch::Nanos closeAt;
  };
  const Case cases[] = {
      {"searching", 500ms}, {"placement pending", 1500ms}, {"window moved", 2200ms}};
  for (const Case& c : cases) {
    ManagerRig rig;
    rig.manager->open3DWindow();
    rig.settle();
    rig.advance(c.closeAt);
    rig.manager->close3DWindow();
    rig.settle();
    rig.advance(60s);
    EXPECT_FALSE(rig.window->visible) << c.stage;
    EXPECT_EQ(rig.window->shows, 1) << c.stage;
    EXPECT_EQ(rig.window->closes, 1) << c.stage;
    EXPECT_FALSE(rig.window->fullScreen) << c.stage;
    EXPECT_TRUE(rig.posted.empty()) << c.stage << ": no success, and the check was cancelled";
    EXPECT_FALSE(rig.capturing()) << c.stage;
    EXPECT_EQ(rig.glasses.calls(), (Calls{"3D on", "3D off"})) << c.stage;
    EXPECT_FALSE(rig.state.isAI3DWindowOnGlasses.load()) << c.stage;
  }
}

TEST(DepthManagerOpen, CloseLeavesFullScreenFirstAndAnOpenMeanwhileKeepsTheWindow) {
  ManagerRig rig;
  rig.manager->open3DWindow();
  rig.settle();
  rig.advance(kPlaced);
  ASSERT_TRUE(rig.window->fullScreen);
  ASSERT_TRUE(rig.state.isAI3DWindowOnGlasses.load());

  rig.manager->close3DWindow();
  EXPECT_FALSE(rig.window->fullScreen);
  EXPECT_FALSE(rig.state.isAI3DWindowOnGlasses.load());
  rig.advance(299ms);
  EXPECT_EQ(rig.window->closes, 0) << "the window manager gets 0.3 s to leave full screen";
  rig.advance(1ms);
  EXPECT_EQ(rig.window->closes, 1);
  EXPECT_FALSE(rig.capturing());

  // Again, with an open before the close is due: the window stays.
  rig.manager->open3DWindow();
  rig.settle();
  rig.advance(kPlaced);
  ASSERT_EQ(rig.posted, (std::vector<int>{1, 1}));
  EXPECT_EQ(rig.window->moves, 1) << "a window already on the glasses is not moved";
  rig.manager->close3DWindow();
  rig.advance(100ms);
  rig.manager->open3DWindow();
  rig.settle();
  rig.advance(kPlaced);
  EXPECT_EQ(rig.window->closes, 1);
  EXPECT_TRUE(rig.window->visible);
  EXPECT_TRUE(rig.window->fullScreen);
  EXPECT_EQ(rig.posted, (std::vector<int>{1, 1, 1}));
  EXPECT_TRUE(rig.capturing());
}

TEST(DepthManagerOpen, TheSearchGoesOnUntilTheGlassesAre3840WideAndExtended) {
  ManagerRig rig;
  rig.screens.table = {testing::FakeScreens::builtin(), testing::FakeScreens::glasses(1920)};
  rig.manager->open3DWindow();
  rig.settle();
  rig.advance(3500ms);
  EXPECT_EQ(rig.screens.scans, 3) << "a pass a second";
  EXPECT_EQ(rig.window->moves, 0);
  EXPECT_TRUE(rig.posted.empty());

  // Switched to 3840, but mirrored twice more: retried every 1.25 s.
  rig.screens.table = {testing::FakeScreens::builtin(), testing::FakeScreens::glasses(3840)};
  rig.screens.mirrorAnswers = {false, false, true};
  rig.advance(500ms);  // the pass at 4 s
  EXPECT_EQ(rig.screens.scans, 4);
  rig.advance(2500ms - 1ms);
  EXPECT_EQ(std::count(rig.logged.begin(), rig.logged.end(), "====重新切换眼镜为拓展显示器===="),
            2);
  EXPECT_EQ(rig.screens.scans, 4) << "no new pass while it waits";
  EXPECT_EQ(rig.window->moves, 0);
  rig.advance(1ms + 1s);  // extended at 6.5 s, placed 1 s later
  EXPECT_EQ(rig.window->moves, 1);
  rig.advance(500ms);
  EXPECT_EQ(rig.posted, std::vector<int>{1});
}

TEST(DepthManagerOpen, GlassesGoingStopTheStageWithItsLine) {
  struct Case {
    const char* stage;
    const char* line;
    std::function<void(ManagerRig&)> arrange;
    dispatch::Nanos unplugAt;
  };
  const Case cases[] = {
      {"searching", "====眼镜拔出===222=",
       [](ManagerRig& rig) { rig.screens.table = {testing::FakeScreens::glasses(1920)}; }, 1500ms},
      {"waiting for an extended display",
       "====眼镜拔出===333=", [](ManagerRig& rig) { rig.screens.mirrorAnswers = {false}; }, 1500ms},
      {"placing", "====眼镜拔出===444=", [](ManagerRig& rig) { rig.window->stuck = true; }, 2200ms},
  };
  for (const Case& c : cases) {
    ManagerRig rig;
    rig.manager->open3DWindow();
    rig.settle();
    c.arrange(rig);
    rig.advance(c.unplugAt);
    rig.unplug();
    rig.advance(60s);
    EXPECT_EQ(std::count(rig.logged.begin(), rig.logged.end(), c.line), 1) << c.stage;
    EXPECT_TRUE(rig.posted.empty()) << c.stage << ": no success, and the check was cancelled";
    EXPECT_EQ(rig.timer.liveCount(), 0u) << c.stage;
    EXPECT_FALSE(rig.capturing()) << c.stage;
    EXPECT_EQ(rig.glasses.calls(), Calls{"3D on"}) << c.stage << ": no duty commands";
    EXPECT_FALSE(rig.state.isAI3DWindowOnGlasses.load()) << c.stage;
  }
}

TEST(DepthManagerOpen, ReplugDuringTheSearchEndsTheOldConnectionsOpen) {
  ManagerRig rig;
  rig.screens.table = {testing::FakeScreens::glasses(1920)};
  rig.manager->open3DWindow();
  rig.settle();
  rig.advance(1500ms);
  ++rig.glasses.epoch;  // unplugged and plugged again between two passes
  rig.advance(10s);
  EXPECT_TRUE(rig.logs("====眼镜拔出===222="));
  EXPECT_EQ(rig.screens.scans, 2) << "the pass under way ends, no further one";
}

TEST(DepthManagerOpen, TheCheckReportsZeroAndALateSuccessStillOne) {
  ManagerRig rig;
  rig.manager->open3DWindow();
  rig.settle();
  rig.window->stuck = true;
  rig.advance(30s - 1ms);
  EXPECT_TRUE(rig.posted.empty());
  rig.advance(1ms);
  EXPECT_EQ(rig.posted, std::vector<int>{0});
  EXPECT_EQ(rig.onGlassesWhenPosted, std::vector<bool>{false});
  EXPECT_EQ(rig.manager->checkStartTimerString(), "");
  EXPECT_GT(rig.window->moves, 50) << "placement retried every 0.5 s";

  rig.window->stuck = false;
  rig.advance(1s);
  EXPECT_EQ(rig.posted, (std::vector<int>{0, 1}));
  EXPECT_TRUE(rig.capturing());
  EXPECT_TRUE(rig.state.isAI3DWindowOnGlasses.load());
}

TEST(DepthManagerOpen, TheWindowManagersCloseStopsCaptureAndEndsTheOpen) {
  {
    ManagerRig rig;
    rig.manager->open3DWindow();
    rig.settle();
    rig.advance(kPlaced);
    ASSERT_TRUE(rig.capturing());
    rig.window->wmClose();
    EXPECT_FALSE(rig.capturing());
    EXPECT_FALSE(rig.state.isAI3DWindowOnGlasses.load());
  }
  {
    ManagerRig rig;
    rig.manager->open3DWindow();
    rig.settle();
    rig.window->stuck = true;
    rig.advance(2200ms);
    rig.window->wmClose();
    rig.window->stuck = false;
    rig.advance(60s);
    EXPECT_FALSE(rig.window->visible);
    EXPECT_FALSE(rig.window->fullScreen) << "full screen would show the closed window again";
    EXPECT_TRUE(rig.posted.empty());
    EXPECT_FALSE(rig.capturing());
  }
}

TEST(DepthManagerOpen, HandleWake) {
  {
    ManagerRig rig;  // no window yet: nothing happens
    rig.manager->handleWake(false);
    rig.settle();
    EXPECT_FALSE(rig.capturing());
    EXPECT_EQ(rig.manager->depthWindow(), nullptr);
  }
  struct Case {
    bool isSleep;
    bool visible;
    bool capturing;
  };
  const Case cases[] = {{true, true, false}, {false, true, true}, {false, false, false}};
  for (const Case& c : cases) {
    ManagerRig rig;
    rig.manager->open3DWindow();
    rig.settle();
    rig.advance(kPlaced);
    rig.manager->handleWake(true);  // slept
    ASSERT_FALSE(rig.capturing());
    rig.window->visible = c.visible;
    rig.manager->handleWake(c.isSleep);
    rig.settle();
    EXPECT_EQ(rig.capturing(), c.capturing) << c.isSleep << c.visible;
  }
}

}  // namespace
}  // namespace vistrelle::ai3d
