// The connection road with simulated glasses on the simulated bus: what the
// glasses receive and when (virtual time), what the window shows, and that a
// connection never gets two roads.

#include "app/connection_road.h"

#include <gtest/gtest.h>

#include "app/road/road_rig.h"
#include "device/firmware/dfu_notifications.h"
#include "sim/firmware/sim_bootloader.h"

namespace vistrelle::testing {
namespace {

using namespace std::chrono_literals;
using Pairs = std::vector<std::pair<int, int>>;

sim::SimGlassesModel pro() {
  return sim::SimGlassesModel::secondGenerationPro();
}
sim::SimGlassesModel second() {
  return sim::SimGlassesModel::secondGeneration();
}
sim::SimGlassesModel first(std::string version) {
  auto model = sim::SimGlassesModel::firstGeneration();
  model.versionText = std::move(version);
  return model;
}

TEST(ConnectionRoad, TheNormalRoadConfiguresTheGlassesStepByStepAndOpensThe3DWindowOnce) {
  RoadRig rig;
  auto model = pro();
  model.versionText = "ORVEX2PRO_FW_V1.49";  // the image carried: current
  auto glasses = rig.plug(model);
  // Unlocked: at once the IMU stream off and the version request.
  EXPECT_EQ(groupsAndCommands(rig.commands(*glasses, 2)), (Pairs{{12, 1}, {8, 1}}));
  EXPECT_EQ(rig.count("update check"), 1);
  rig.answerVersion();
  EXPECT_EQ(rig.state.glassVersion.get(), "ORVEX2PRO_FW_V1.49");
  EXPECT_EQ(rig.count("open 3D"), 0);

  // The search's first pass comes a second later and finds the glasses; the
  // version is known and current: the normal road.
  rig.advance(999ms);
  EXPECT_EQ(rig.state.glassDisplayID.load(), 0u);
  rig.advance(1ms);
  EXPECT_EQ(rig.state.glassDisplayID.load(), kGlassesId);
  EXPECT_EQ(rig.state.builtinDisplayID.load(), kPanelId);
  EXPECT_EQ(rig.window.contents, std::vector<WindowContent>{WindowContent::home});
  // The immersion at once, then 0.05 s, 0.1 s and 0.05 s apart.
  EXPECT_EQ(groupsAndCommands(rig.commands(*glasses, 3)).back(), (std::pair<int, int>{1, 9}));
  rig.advance(49ms);
  EXPECT_EQ(glasses->writesReceived(), 3u);
  rig.advance(1ms);
  EXPECT_EQ(groupsAndCommands(rig.commands(*glasses, 4)).back(), (std::pair<int, int>{12, 4}));
  rig.advance(99ms);
  EXPECT_EQ(glasses->writesReceived(), 4u);
  rig.advance(1ms);
  EXPECT_EQ(groupsAndCommands(rig.commands(*glasses, 5)).back(), (std::pair<int, int>{5, 2}));
  EXPECT_EQ(rig.count("open 3D"), 0);
  rig.advance(50ms);
  const auto all = rig.commands(*glasses, 6);
  EXPECT_EQ(groupsAndCommands(all), (Pairs{{12, 1}, {8, 1}, {1, 9}, {12, 4}, {5, 2}, {6, 0}}));
  EXPECT_EQ(rig.count("add audio listener"), 1);
  EXPECT_EQ(rig.count("open 3D"), 1);
  EXPECT_FALSE(rig.road->isRunning());

  // Nothing more, however long the connection lasts.
  rig.advance(60s);
  EXPECT_EQ(glasses->writesReceived(), 6u);
  EXPECT_EQ(rig.count("open 3D"), 1);
  EXPECT_EQ(rig.road->roadsStarted(), 1u);
}

TEST(ConnectionRoad, FirstGenerationGlassesGetNoUpdateButTheirVolumeAndMuteAgain) {
  RoadRig rig;
  rig.defaults.setBool("displayVolumeLevel_isSoundOff_UserDefaultsKey", true);
  auto glasses = rig.plug(first("ORVEX_FW_V1.40"));
  EXPECT_EQ(groupsAndCommands(rig.commands(*glasses, 1)), (Pairs{{8, 1}}));
  rig.answerVersion();
  EXPECT_TRUE(rig.state.isSoundOff.load());
  // Muted: level 0 goes to the glasses, level 3 is kept for the unmute.
  const auto volume = rig.commands(*glasses, 2).back();
  EXPECT_EQ(std::make_pair(int(volume.group), int(volume.command)), std::make_pair(11, 2));
  EXPECT_EQ(volume.params.at("level").intOr(-1), 0);
  EXPECT_EQ(rig.state.volumeLevel.load(), 3);

  rig.advance(1s);
  rig.advance(1s);
  EXPECT_EQ(rig.window.shown, WindowContent::home);
  EXPECT_FALSE(rig.state.isDfuUpdate.load());
  EXPECT_EQ(rig.count("open 3D"), 1);
  EXPECT_EQ(rig.count("add audio listener"), 0) << "a sound device of their own: second generation";
  // Nothing but the version request and the volume: the other steps are
  // second-generation commands.
  EXPECT_EQ(glasses->writesReceived(), 2u);
}

TEST(ConnectionRoad, APlugInWhileLockedLogsEveryHalfSecondAndDoesNothingElseUntilUnlocked) {
  RoadRig rig;
  rig.locked = true;
  auto glasses = rig.plug(second());
  EXPECT_EQ(rig.logLines, std::vector<std::string>{"屏幕锁定状态====(true)"});
  for (int i = 0; i < 4; ++i) rig.advance(500ms);
  EXPECT_EQ(rig.logLines.size(), 5u);
  rig.advance(499ms);
  EXPECT_EQ(rig.logLines.size(), 5u);
  EXPECT_EQ(glasses->writesReceived(), 0u);
  EXPECT_TRUE(rig.events.empty());

  rig.locked = false;
  rig.advance(1ms);
  EXPECT_EQ(rig.logLines.size(), 5u);
  EXPECT_EQ(groupsAndCommands(rig.commands(*glasses, 2)), (Pairs{{12, 1}, {8, 1}}));
  EXPECT_EQ(rig.count("update check"), 1);
}

TEST(ConnectionRoad, TheBootLoaderGetsTheUpdateWindowWithItsFlagAndNoVersionWait) {
  RoadRig rig;
  sim::SimBootloader bootLoader(rig.sim.bus);
  const int before = rig.statusDelivered;
  bootLoader.plug();
  ASSERT_TRUE(rig.pumpUntil([&] { return rig.statusDelivered > before; }));
  EXPECT_EQ(rig.window.contents, std::vector<WindowContent>{});
  rig.advance(1s);
  EXPECT_TRUE(rig.state.isDfuUpdate.load());
  EXPECT_TRUE(rig.state.isBeginUpdateDfu.load());
  EXPECT_EQ(rig.window.contents, std::vector<WindowContent>{WindowContent::firmwareUpdate});
  EXPECT_EQ(rig.count("open 3D"), 0);
  bootLoader.unplug();
}

TEST(ConnectionRoad, GlassesBackAfterAFlashPostTheSuccessOnceAndRunNoNormalRoad) {
  RoadRig rig;
  rig.state.isDfuUpdate.store(true);
  auto glasses = rig.plug(second());  // V1.63: current
  rig.answerVersion();
  rig.advance(1s);
  EXPECT_EQ(rig.notes.objects(device::dfu_notifications::kStatus), std::vector<Value>{Value(true)});
  EXPECT_FALSE(rig.state.isDfuUpdate.load());
  rig.advance(10s);
  EXPECT_EQ(rig.notes.count(device::dfu_notifications::kStatus), 1u);
  EXPECT_EQ(rig.count("open 3D"), 0);
  EXPECT_EQ(glasses->writesReceived(), 2u) << "no configuration commands";
  EXPECT_TRUE(rig.window.contents.empty());
}

TEST(ConnectionRoad, OldFirmwareShowsTheUpdateWindow) {
  RoadRig rig;
  auto model = second();
  model.versionText = "ORVEX2_FW_V1.9";
  auto glasses = rig.plug(model);
  rig.answerVersion();
  rig.advance(1s);
  EXPECT_TRUE(rig.state.isDfuUpdate.load());
  EXPECT_FALSE(rig.state.isBeginUpdateDfu.load()) << "the glasses, not the boot loader";
  EXPECT_EQ(rig.window.shown, WindowContent::firmwareUpdate);
  EXPECT_EQ(rig.count("open 3D"), 0);
}

TEST(ConnectionRoad, AnUnplugDuringAFlashKeepsTheUpdateViewFiveSecondsThenHomeUnlessBack) {
  for (bool comesBack : {false, true}) {
    SCOPED_TRACE(comesBack ? "back in time" : "not back");
    RoadRig rig;
    auto glasses = rig.plug(second());
    rig.state.isDfuUpdate.store(true);
    rig.state.isDfuUpdateStart.store(true);
    rig.unplug(*glasses);
    EXPECT_EQ(rig.window.shown, WindowContent::firmwareUpdate);
    EXPECT_EQ(rig.window.raises, 1);
    rig.advance(4900ms);
    EXPECT_EQ(rig.window.shown, WindowContent::firmwareUpdate);
    if (comesBack) rig.plug(*glasses);
    rig.advance(100ms);
    rig.advance(1s);
    EXPECT_EQ(rig.window.shown, comesBack ? WindowContent::firmwareUpdate : WindowContent::home);
    EXPECT_EQ(rig.count("reset update view"), comesBack ? 0 : 1);
  }
}

TEST(ConnectionRoad, AVersionNeverAnsweredIsAskedForAgainEveryTwoSeconds) {
  RoadRig rig;
  auto model = second();
  auto glasses = rig.glasses(model);
  glasses->glasses().setReplyFault(8, 1, sim::SimReportFault::dropped());
  rig.plug(*glasses);
  EXPECT_EQ(rig.commands(*glasses, 2).size(), 2u);
  rig.advance(1s);  // the screen found: the version wait begins
  for (size_t requests = 2; requests <= 4; ++requests) {
    rig.advance(1999ms);
    EXPECT_EQ(glasses->writesReceived(), requests);
    rig.advance(1ms);
    EXPECT_EQ(groupsAndCommands(rig.commands(*glasses, requests + 1)).back(),
              (std::pair<int, int>{8, 1}));
  }
  EXPECT_TRUE(rig.road->isRunning());
  EXPECT_EQ(rig.count("open 3D"), 0);
}

TEST(ConnectionRoad, AnUnplugAndReplugInsideAStageLeavesOneRoad) {
  RoadRig rig;
  auto glasses = rig.plug(second());
  rig.answerVersion();
  rig.advance(500ms);  // inside the search's wait
  rig.unplug(*glasses);
  EXPECT_EQ(rig.window.shown, WindowContent::home);
  EXPECT_EQ(rig.state.glassVersion.get(), "ORVEX2_FW_V-1.0");
  rig.plug(*glasses);
  rig.answerVersion();
  rig.advance(5s);
  EXPECT_EQ(rig.road->roadsStarted(), 2u);
  EXPECT_EQ(rig.count("open 3D"), 1);
  EXPECT_EQ(rig.count("add audio listener"), 1);
  // The second connection's commands, once each.
  auto log = groupsAndCommands(rig.commands(*glasses, 7));
  EXPECT_EQ(std::count(log.begin(), log.end(), std::pair<int, int>{12, 4}), 1);
  EXPECT_EQ(std::count(log.begin(), log.end(), std::pair<int, int>{6, 0}), 1);
}

TEST(ConnectionRoad, TheHomeWindowsRepostNeitherDoublesNorRestartsTheRoad) {
  RoadRig rig;
  auto glasses = rig.plug(second());
  rig.answerVersion();
  rig.center.post(ConnectionRoad::kStatusChange, Value(int64_t{1}));  // mid-road
  rig.advance(2s);
  rig.center.post(ConnectionRoad::kStatusChange, Value(int64_t{1}));  // after its end
  rig.advance(2s);
  EXPECT_EQ(rig.road->roadsStarted(), 1u);
  EXPECT_EQ(rig.count("open 3D"), 1);
  EXPECT_EQ(rig.count("update check"), 1);
}

TEST(ConnectionRoad, OnlyTheGlassesOnADesktopShowTheTipsUntilAnotherScreenComes) {
  RoadRig rig(kOnlyGlassesLayout);
  auto glasses = rig.plug(second());
  rig.answerVersion();
  rig.advance(1s);
  EXPECT_EQ(rig.count("tips"), 1);
  EXPECT_FALSE(rig.road->isRunning());
  EXPECT_EQ(rig.count("open 3D"), 0);

  // A display change: the home window posts the plug status again, and the
  // road stopped at the tips looks again.
  rig.center.post(ConnectionRoad::kStatusChange, Value(int64_t{1}));
  rig.advance(1s);
  EXPECT_EQ(rig.road->roadsStarted(), 2u);
  EXPECT_EQ(rig.count("tips"), 2);
}

TEST(ConnectionRoad, AnUpdateOfferHoldsTheRoadAtTheTips) {
  RoadRig rig;
  rig.holdUpdateCheck = true;
  auto glasses = rig.plug(second());
  rig.answerVersion();
  rig.advance(5s);
  EXPECT_TRUE(rig.road->isRunning());
  rig.heldUpdateCheck(false);
  rig.mainQueue->runUntilIdle();
  EXPECT_EQ(rig.count("tips"), 1);
  rig.advance(5s);
  EXPECT_EQ(rig.count("open 3D"), 0);
  EXPECT_EQ(rig.state.glassDisplayID.load(), 0u);
}

TEST(ConnectionRoad, AMirroredScreenAtTheEndShowsTheAlertAndNoWindow) {
  RoadRig rig;
  rig.state.isCPUARM.store(false);  // the final check may not move the main display
  auto glasses = rig.plug(second());
  rig.answerVersion();
  // Set up at first, then the glasses became the main display.
  rig.advance(1s);
  ASSERT_TRUE(rig.fake->apply({{}, kGlassesId}, 1s).ok());
  rig.advance(1s);  // the Intel search: found at once
  rig.advance(1s);
  ASSERT_EQ(rig.alerts.requests.size(), 1u);
  const AlertRequest& alert = rig.alerts.requests[0];
  EXPECT_EQ(alert.messageText, "ORVEX Glass 不是扩展显示器");
  EXPECT_EQ(alert.buttons, (std::vector<std::string>{"切换并退出App", "取消"}));
  EXPECT_EQ(rig.count("open 3D"), 0);
  EXPECT_EQ(rig.count("add audio listener"), 0);
  rig.alerts.answer(0, 1);  // "取消"
  EXPECT_EQ(rig.count("terminate"), 0);
  rig.alerts.answer(0, 0);
  EXPECT_EQ(rig.count("terminate"), 1);
}

TEST(ConnectionRoad, GlassesThatStayMirroredAreRetriedAndTheUserToldAfterThirtySeconds) {
  RoadRig rig(kMirroredLayout);
  rig.fake->refuseChanges("the server refuses");
  auto glasses = rig.plug(second());
  rig.answerVersion();
  rig.advance(28750ms);
  EXPECT_TRUE(rig.messages->texts().empty());
  rig.advance(1250ms);
  EXPECT_EQ(rig.messages->texts(), std::vector<std::string>{"正在等待眼镜设置为扩展显示器"});
  rig.advance(60s);
  EXPECT_EQ(rig.messages->texts().size(), 1u);
  EXPECT_TRUE(rig.road->isRunning());

  rig.fake->refuseChanges(std::nullopt);
  rig.advance(1250ms);
  rig.advance(1s);
  EXPECT_EQ(rig.state.glassDisplayID.load(), kGlassesId);
}

TEST(ConnectionRoad, TheUnplugResetsTheConnectionsState) {
  RoadRig rig;
  auto glasses = rig.plug(second());
  rig.answerVersion();
  rig.advance(2s);
  rig.state.glassDisplayStatus.store(2);
  rig.events.clear();
  rig.unplug(*glasses);
  EXPECT_EQ(rig.events,
            (std::vector<std::string>{"imu id 0", "remove audio listener", "restore brightness",
                                      "close 3D", "reset update view"}));
  EXPECT_EQ(rig.state.glassDisplayStatus.load(), 1);
  EXPECT_EQ(rig.state.glassVersion.get(), "ORVEX2_FW_V-1.0");
  EXPECT_EQ(rig.window.shown, WindowContent::home);
}

TEST(ConnectionRoad, UnplugVersionTable) {
  const std::pair<const char*, const char*> table[] = {
      {"ORVEX2PRO_FW_V1.49", "ORVEX2PRO_FW_V-1.0"},
      {"ORVEX2_FW_V1.63", "ORVEX2_FW_V-1.0"},
      {"ORVEX_FW_V1.40", "ORVEX_FW_V-1.0"},
      {"V-1.0", "V-1.0"},
      {"ORVEX2_FW_V-1.0", "ORVEX2_FW_V-1.0"},
      {"ORVEX1_FW_V2.05", "V-1.0"},
      {"", "V-1.0"},
  };
  for (const auto& [version, expected] : table) {
    EXPECT_EQ(ConnectionRoad::unpluggedVersion(version), expected) << version;
  }
}

TEST(ConnectionRoad, TheGlassesDisplayStatusIsTheIntegerOrTwo) {
  RoadRig rig;
  const std::pair<Value, int> table[] = {{Value(int64_t{1}), 1},
                                         {Value(int64_t{3}), 3},
                                         {Value(), 2},
                                         {Value("1"), 2},
                                         {Value(1.5), 2}};
  for (const auto& [object, expected] : table) {
    rig.road->onGlassDisplayStatus(Notification{"", object, {}});
    EXPECT_EQ(rig.state.glassDisplayStatus.load(), expected);
  }
}

}  // namespace
}  // namespace vistrelle::testing
