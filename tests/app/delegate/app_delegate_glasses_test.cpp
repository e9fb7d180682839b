// The delegate's launch with its glasses and its exit: the un-mirroring on
// timers with the UI thread free, the capture gate and the Wayland gate, the
// plug-in reaching the 3D window, and the exit clean-up that leaves the
// glasses in 2D at 1920 with the panel lit, its stops in order.

#include <gtest/gtest.h>

#include "app/delegate/glasses_delegate_rig.h"
#include "app/qx_glasses_control.h"
#include "platform/dispatch/runtime.h"

namespace vistrelle::testing {
namespace {

using namespace std::chrono_literals;

// The glasses at 3840 wide, as a 3D window leaves them.
constexpr const char* kWideLayout = R"({"primary": "DUMMY0", "outputs": [
  {"name": "DUMMY0", "connector": "Panel", "modes": ["1920x1080"], "mode": "1920x1080"},
  {"name": "DUMMY1", "monitor": "ORVEX Glass", "modes": ["1920x1080", "3840x1080"],
   "mode": "3840x1080", "at": [1920, 0]}]})";

TEST(AppDelegateGlasses,
     MirroredGlassesAtLaunchAreRetriedOnTimersAndTheUserToldAfterThirtySeconds) {
  GlassesDelegateRig rig(kMirroredLayout);
  rig.displaysRig.fake->refuseChanges("refused");
  rig.delegate->applicationDidFinishLaunching();
  rig.mainQueue->runUntilIdle();
  EXPECT_EQ(rig.window->shows, 1);
  EXPECT_EQ(MainState::shared().builtinDisplayID.load(), kPanelId);
  EXPECT_FALSE(rig.delegate->isGlassMonitoringStarted());

  // Between two tries the main queue is free: work posted now runs now.
  for (int i = 0; i < 23; ++i) {
    bool ran = false;
    rig.mainQueue->post([&] { ran = true; });
    rig.mainQueue->runUntilIdle();
    EXPECT_TRUE(ran);
    rig.advance(1250ms);
  }
  EXPECT_TRUE(rig.messages->texts().empty()) << ::testing::PrintToString(rig.messages->texts());
  rig.advance(1250ms);  // 30 s of retrying
  EXPECT_EQ(rig.messages->texts(), std::vector<std::string>{"正在等待眼镜设置为扩展显示器"});
  rig.advance(60s);
  EXPECT_EQ(rig.messages->texts().size(), 1u);
  EXPECT_FALSE(rig.delegate->isGlassMonitoringStarted());
  EXPECT_EQ(rig.count("companion bridge"), 0);

  rig.displaysRig.fake->refuseChanges(std::nullopt);
  rig.advance(1250ms);
  EXPECT_TRUE(rig.delegate->isGlassMonitoringStarted());
  EXPECT_EQ(rig.count("companion bridge"), 1);
  EXPECT_TRUE(rig.pumpUntil([&] { return rig.delegate->qxServer().rfDeviceMonitor().running(); }));
}

TEST(AppDelegateGlasses, WithoutCaptureTheAlertEndsTheApplicationAndTheMonitorNeverStarts) {
  struct Case {
    const char* name;
    bool wayland;
    bool canRecord;
    const char* text;
  };
  for (const Case& c : {Case{"Wayland", true, true, AppDelegate::kX11SessionText},
                        Case{"no capture", false, false, AppDelegate::kScreenRecordingText}}) {
    SCOPED_TRACE(c.name);
    GlassesDelegateRig rig;
    rig.wayland = c.wayland;
    rig.canRecord = c.canRecord;
    rig.delegate->applicationDidFinishLaunching();
    rig.mainQueue->runUntilIdle();
    ASSERT_EQ(rig.alerts.requests.size(), 1u);
    const AlertRequest& alert = rig.alerts.requests[0];
    EXPECT_TRUE(alert.critical);
    EXPECT_EQ(alert.messageText, "录屏权限未开启");
    EXPECT_EQ(alert.informativeText, c.text);
    EXPECT_EQ(alert.buttons, std::vector<std::string>{"退出并开启权限"});
    // In a Wayland session nothing asks the display server at all.
    EXPECT_EQ(rig.displaysRig.fake->changes().empty(), true);

    rig.alerts.answer(0, 0);
    EXPECT_EQ(rig.count("recording prompt"), 1);
    rig.advance(499ms);
    EXPECT_EQ(rig.delegate->exitCleanupRuns(), 0);
    EXPECT_EQ(rig.mainQueue->run(), 0);  // 0.5 s later: the clean-up, then the end
    EXPECT_EQ(rig.delegate->exitCleanupRuns(), 1);
    EXPECT_FALSE(rig.delegate->isGlassMonitoringStarted());
    EXPECT_FALSE(rig.delegate->qxServer().rfDeviceMonitor().running());
    EXPECT_EQ(rig.count("companion bridge"), 0);
  }
}

TEST(AppDelegateGlasses, ExitWithGlassesInThreeDLeavesThemInTwoDAtNineteenTwentyWithThePanelLit) {
  GlassesDelegateRig rig(kWideLayout);
  dispatch::Runtime runtime(rig.mainQueue, {.workers = 1});
  std::vector<std::string> stops;
  // What starts before the glasses' monitor (the companion server, the HTTP
  // worker) stops after it, and what starts later stops before it.
  const dispatch::StopRegistration earlier = runtime.registerStop("earlier", [&] {
    stops.push_back(rig.delegate->qxServer().rfDeviceMonitor().running() ? "earlier, HID running"
                                                                         : "earlier, HID stopped");
  });
  rig.delegate->applicationDidFinishLaunching();
  rig.mainQueue->runUntilIdle();
  ASSERT_TRUE(rig.delegate->isGlassMonitoringStarted());
  const dispatch::StopRegistration later = runtime.registerStop("later", [&] {
    stops.push_back(rig.delegate->qxServer().rfDeviceMonitor().running() ? "later, HID running"
                                                                         : "later, HID stopped");
  });

  auto glasses = rig.sim.glasses(sim::SimGlassesModel::secondGeneration());
  glasses->plug();
  // The update check answers from the HTTP layer's thread, on its own
  // time: virtual time moves on until the road has opened the window.
  ASSERT_TRUE(rig.pumpUntil([&] {
    rig.advance(50ms);
    return rig.count("open 3D") == 1;
  }));
  EXPECT_EQ(MainState::shared().glassVersion.get(), "ORVEX2_FW_V1.63");
  ASSERT_NE(rig.depthManager, nullptr);
  EXPECT_EQ(MainState::shared().glassDisplayID.load(), kGlassesId);
  // The manager's close switches to 2D through the command layer, as the
  // real one does.
  QxGlassesControl control(rig.delegate->qxServer());
  rig.depthManager->close = [&] { control.switchDisplay3D(false); };
  // The 3D window dimmed the panel; a 3D switch is pending its resolution.
  MainState::shared().defaultBrightness.store(0.5f);
  ASSERT_EQ(rig.delegate->qxServer().change_display_3d(true), 0);
  ASSERT_FALSE(rig.delegate->qxServer().isSuccessChangeResolution());

  rig.delegate->terminate();
  EXPECT_EQ(rig.mainQueue->run(), 0);
  EXPECT_EQ(rig.delegate->exitCleanupRuns(), 1);
  EXPECT_TRUE(rig.delegate->isExit());

  // Writes reach the glasses in order: once a version request sent now has
  // arrived, everything the exit sent has too.
  const size_t before = glasses->writesReceived();
  ASSERT_EQ(rig.delegate->qxServer().getOrvexGlassFirmwareVersion(), 0);
  ASSERT_TRUE(rig.pumpUntil([&] {
    const auto log = glasses->glasses().commandLog();
    return glasses->writesReceived() > before && !log.empty() && log.back().group == 8;
  }));
  int twoD = 0;
  for (const auto& record : glasses->glasses().commandLog()) {
    if (record.group == 1 && record.command == 3 && record.params.at("value").intOr(0) == 1) ++twoD;
  }
  EXPECT_EQ(twoD, 1) << "the exit's 2D switch, once";
  EXPECT_FALSE(glasses->glasses().state().display3d);
  EXPECT_EQ(rig.count("close 3D"), 1);
  EXPECT_EQ(rig.displaysRig.output("DUMMY1").currentMode()->width, 1920);
  EXPECT_EQ(rig.panel->builtinDisplayBrightness(), 0.5f);

  runtime.runStops();
  EXPECT_EQ(stops, (std::vector<std::string>{"later, HID running", "earlier, HID stopped"}));
  runtime.stop();
  glasses->unplug();
}

TEST(AppDelegateGlasses, ClosingTheGlassResetsItsStatusRestoresThePanelAndClosesTheWindow) {
  GlassesDelegateRig rig;
  rig.delegate->openAI3D();
  rig.delegate->openAI3D();
  EXPECT_EQ(rig.count("open 3D"), 2);
  MainState::shared().glassDisplayStatus.store(2);
  MainState::shared().defaultBrightness.store(0.4f);
  MainState::shared().builtinDisplayID.store(kPanelId);
  rig.delegate->closeGlass();
  rig.mainQueue->runUntilIdle();
  EXPECT_EQ(MainState::shared().glassDisplayStatus.load(), 1);
  EXPECT_EQ(rig.count("close 3D"), 1);
  EXPECT_EQ(rig.panel->builtinDisplayBrightness(), 0.4f);
  EXPECT_TRUE(rig.delegate->checkORVEXGLASSWithName1WithDisplayName("ORVEX Glass"));
  EXPECT_FALSE(rig.delegate->checkORVEXGLASSWithName1WithDisplayName("Orvex Glass Monitor"));
}

}  // namespace
}  // namespace vistrelle::testing
