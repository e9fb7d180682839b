#include <gtest/gtest.h>

#include <cerrno>
#include <condition_variable>

#include "device/hid/qx_rig.h"
#include "device/protocol/glass_commands.h"
#include "platform/dispatch/runtime.h"

namespace vistrelle::device {
namespace {

using namespace std::chrono_literals;
using sim::SimGlassesModel;
using testing::QxRig;
using testing::withIds;

std::vector<int64_t> integers(const std::vector<Value>& objects) {
  std::vector<int64_t> values;
  for (const Value& object : objects) values.push_back(object.intOr(-99));
  return values;
}

TEST(OrvexQXServerConnection, WakeDevicesOneAtATime) {
  QxRig rig;
  auto glasses = rig.plug(SimGlassesModel::secondGeneration());
  auto first = rig.plug(withIds(SimGlassesModel::secondGeneration(), 0x1234, 0x5678));
  auto second = rig.plug(withIds(SimGlassesModel::secondGeneration(), 0x0483, 0x6001));
  ASSERT_TRUE(rig.qx->hubHidDevice());
  EXPECT_EQ(rig.qx->hubHidDevice()->productId, 0x5678);
  rig.unplug(*second, glasses.get());
  EXPECT_EQ(rig.qx->hubHidDevice()->productId, 0x5678);
  rig.unplug(*first, glasses.get());
  EXPECT_FALSE(rig.qx->hubHidDevice());
  EXPECT_FALSE(rig.qx->hubDevice());
  EXPECT_EQ(integers(rig.notes.objects(OrvexQXServer::kWakeChange)), (std::vector<int64_t>{1, 0}));
  // Wake devices are never the glasses.
  EXPECT_EQ(rig.qx->ioHidDevice()->productId, 0x8003);
  EXPECT_EQ(integers(rig.notes.objects(OrvexQXServer::kStatusChange)), std::vector<int64_t>{1});
}

TEST(OrvexQXServerConnection, TheFirstGlassesStayCurrent) {
  QxRig rig;
  auto first = rig.plug(SimGlassesModel::secondGeneration());
  const uint64_t epoch = rig.qx->connectionEpoch();
  auto second = rig.plug(SimGlassesModel::firstGeneration());
  EXPECT_EQ(rig.qx->ioHidDevice()->productId, 0x8003);
  EXPECT_EQ(rig.qx->glassGeneration(), 2);
  rig.unplug(*second, first.get());
  EXPECT_EQ(rig.qx->ioHidDevice()->productId, 0x8003);
  EXPECT_TRUE(rig.state.glassStatus.load());
  EXPECT_EQ(rig.qx->connectionEpoch(), epoch);
  rig.unplug(*first);
  ASSERT_TRUE(rig.notes.waitFor(OrvexQXServer::kStatusChange, 2));
  EXPECT_EQ(integers(rig.notes.objects(OrvexQXServer::kStatusChange)),
            (std::vector<int64_t>{1, 0}));
  EXPECT_FALSE(rig.qx->ioHidDevice());
  EXPECT_EQ(rig.qx->connectionEpoch(), epoch + 1);
  const auto traced = rig.tracedLines();
  EXPECT_NE(std::find(traced.begin(), traced.end(), "当前有眼镜，在插入不继续执行"), traced.end());
}

TEST(OrvexQXServerConnection, StatusIsSetBeforeItsPostAndTheEpochMovesOncePerChange) {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::pair<int64_t, bool>> seen;
  std::vector<uint64_t> epochs;
  QxRig rig;
  // Runs on the monitor's thread, as the post is made.
  Subscription observer =
      rig.center.observe(OrvexQXServer::kStatusChange, nullptr, [&](const Notification& note) {
        std::lock_guard lock(mutex);
        seen.emplace_back(note.object.intOr(-1), rig.state.glassStatus.load());
        epochs.push_back(rig.qx->connectionEpoch());
        changed.notify_all();
      });
  EXPECT_EQ(rig.qx->connectionEpoch(), 0u);
  for (int round = 0; round < 2; ++round) {
    auto glasses = rig.plug(SimGlassesModel::secondGeneration());
    rig.unplug(*glasses);
  }
  std::unique_lock lock(mutex);
  ASSERT_TRUE(changed.wait_for(lock, 10s, [&] { return seen.size() == 4; }));
  EXPECT_EQ(seen,
            (std::vector<std::pair<int64_t, bool>>{{1, true}, {0, false}, {1, true}, {0, false}}));
  EXPECT_EQ(epochs, (std::vector<uint64_t>{1, 2, 3, 4}));
}

TEST(OrvexQXServerConnection, UnplugKeepsTheIdentityButDetachesTheTransport) {
  QxRig rig;
  auto model = SimGlassesModel::secondGenerationPro();
  model.productName.clear();
  auto glasses = rig.plug(model);
  EXPECT_EQ(rig.qx->glassName(), "ORVEX Glass");
  const auto printed = rig.printedLines();
  EXPECT_EQ(printed, (std::vector<std::string>{"获取设备名称失败.", "获取设备 Version: 0100"}));
  rig.unplug(*glasses);
  ASSERT_TRUE(rig.notes.waitFor(OrvexQXServer::kStatusChange, 2));
  // connectedDevice, glassName and glassGeneration stay, as the road reads them.
  const auto connected = rig.qx->connectedDevice();
  ASSERT_TRUE(connected);
  EXPECT_EQ(connected->deviceInfo().productId, 0x8005);
  EXPECT_EQ(rig.qx->glassGeneration(), 2);
  EXPECT_EQ(rig.qx->glassName(), "ORVEX Glass");
  // But nothing reaches anything through it.
  EXPECT_EQ(rig.qx->change_display_3d(false), -ENODEV);
  EXPECT_EQ(rig.qx->change_display_volume(2), -1);
  EXPECT_FALSE(rig.qx->refreshConnectedDevice());
}

TEST(OrvexQXServerConnection, NamesAndTracesOfAPlugIn) {
  QxRig rig;
  auto glasses = rig.plug(SimGlassesModel::secondGeneration());
  EXPECT_EQ(rig.qx->glassName(), "ORVEX Glass 2");
  EXPECT_EQ(rig.printedLines(),
            (std::vector<std::string>{"获取设备名称: ORVEX Glass 2", "获取设备 Version: 0100"}));
  const auto traced = rig.tracedLines();
  ASSERT_FALSE(traced.empty());
  EXPECT_EQ(traced[0], "device 插入 = 【vid = 0x0483, pid = 0x8003】");
}

TEST(OrvexQXServerConnection, TheFacadesCommandLayerPublishesNothing) {
  QxRig rig(false);
  auto glasses = rig.plug(SimGlassesModel::secondGeneration());
  auto wake = rig.plug(withIds(SimGlassesModel::secondGeneration(), 0x1234, 0x5678));
  EXPECT_TRUE(rig.qx->ioHidDevice());
  EXPECT_EQ(rig.qx->changeIMUWithGlass(true), 0);
  rig.unplug(*glasses, wake.get());
  EXPECT_FALSE(rig.qx->ioHidDevice());
  EXPECT_EQ(rig.notes.count(OrvexQXServer::kStatusChange), 0u);
  EXPECT_EQ(rig.notes.count(OrvexQXServer::kWakeChange), 0u);
  EXPECT_EQ(rig.qx->connectionEpoch(), 0u);
  EXPECT_FALSE(rig.state.glassStatus.load());
  EXPECT_FALSE(rig.state.isCloseIMU.load());
}

TEST(OrvexQXServerConnection, CloseIMUIsRecordedBeforeTheCommandGoes) {
  QxRig rig;
  auto first = rig.plug(SimGlassesModel::firstGeneration());
  EXPECT_EQ(rig.qx->changeIMUWithGlass(true), -1);
  EXPECT_FALSE(rig.state.isCloseIMU.load());
  rig.unplug(*first);
  auto second = rig.plug(SimGlassesModel::secondGeneration());
  EXPECT_EQ(rig.qx->changeIMUWithGlass(true), 0);
  EXPECT_TRUE(rig.state.isCloseIMU.load());
  EXPECT_EQ(rig.qx->changeIMUWithGlass(false), 0);
  EXPECT_FALSE(rig.state.isCloseIMU.load());
}

TEST(OrvexQXServerConnection, QuaternionsReachTheReadCallBack) {
  std::mutex mutex;
  std::vector<std::array<float, 4>> received;
  QxRig rig;
  rig.qx->setReadCallBack([&](float q0, float q1, float q2, float q3) {
    std::lock_guard lock(mutex);
    received.push_back({q0, q1, q2, q3});
  });
  auto glasses = rig.plug(SimGlassesModel::firstGeneration());
  glasses->glasses().setOrientation({0.1f, 0.2f, 0.3f, 0.9f});
  rig.sim.glassesClock->advanceBy(3ms);
  rig.settle(*glasses);
  std::lock_guard lock(mutex);
  EXPECT_NE(
      std::find(received.begin(), received.end(), std::array<float, 4>{0.1f, 0.2f, 0.3f, 0.9f}),
      received.end());
}

TEST(OrvexQXServerConnection, NeedsAFirmwareUpdate) {
  struct Case {
    const char* name;
    SimGlassesModel model;
    std::string version;
    bool unplugged;
    bool expected;
  };
  const std::vector<Case> cases{
      {"older numerically", SimGlassesModel::secondGeneration(), "ORVEX2_FW_V1.9", false, true},
      {"the carried one", SimGlassesModel::secondGeneration(), "ORVEX2_FW_V1.63", false, false},
      {"newer", SimGlassesModel::secondGeneration(), "ORVEX2_FW_V1.100", false, false},
      {"Pro older", SimGlassesModel::secondGenerationPro(), "ORVEX2PRO_FW_V1.12", false, true},
      {"unknown model", SimGlassesModel::secondGeneration(), "OTHER_FW_V0.1", false, false},
      {"first generation", SimGlassesModel::firstGeneration(), "ORVEX2_FW_V1.9", false, false},
      {"boot loader", withIds(SimGlassesModel::secondGeneration(), 0x0416, 0x3F00), "V-1.0", false,
       true},
      {"unplugged", SimGlassesModel::secondGeneration(), "ORVEX2_FW_V1.9", true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QxRig rig;
    rig.state.dfuUpdateVersion_V2.set("ORVEX2_FW_V1.63");
    rig.state.dfuUpdateVersion_V2Pro.set("ORVEX2PRO_FW_V1.49");
    rig.state.glassVersion.set(c.version);
    auto glasses = rig.plug(c.model);
    if (c.unplugged) {
      rig.unplug(*glasses);
      ASSERT_TRUE(rig.notes.waitFor(OrvexQXServer::kStatusChange, 2));
    }
    std::optional<bool> answer;
    rig.qx->checkNeedDfuUpdate([&](bool needed) { answer = needed; });
    EXPECT_EQ(answer, c.expected);
  }
}

// The 3D switch and the resolution change that follows it on the main queue.
class ThreeDSwitch : public ::testing::Test {
 protected:
  void SetUp() override { glasses_ = rig_.plug(SimGlassesModel::secondGeneration()); }

  std::vector<sim::SimCommandRecord> sentBy(const std::function<void()>& call) {
    return rig_.sentBy(*glasses_, call);
  }

  QxRig rig_;
  std::unique_ptr<sim::SimGlassesHidDevice> glasses_;
};

TEST_F(ThreeDSwitch, ASwitchWhilePendingSendsNothing) {
  // On an Intel host the wide switch waits 5 s, the narrow one 2 s: with the
  // pending flag taken only when the change ran, 3D off during the wait would
  // leave the display 3840 wide and the glasses in 2D.
  rig_.state.isCPUARM.store(false);
  EXPECT_EQ(sentBy([&] { EXPECT_EQ(rig_.qx->change_display_3d(true), 0); }).size(), 1u);
  EXPECT_FALSE(rig_.qx->isSuccessChangeResolution());
  EXPECT_TRUE(sentBy([&] { EXPECT_EQ(rig_.qx->change_display_3d(false), 0); }).empty());
  rig_.mainQueue->advanceBy(4999ms);
  EXPECT_TRUE(rig_.port->switches.empty());
  rig_.mainQueue->advanceBy(1ms);
  ASSERT_EQ(rig_.port->switches.size(), 1u);
  EXPECT_EQ(rig_.port->switches[0].displayId, 7u);
  EXPECT_EQ(rig_.port->switches[0].width, 3840);
  EXPECT_EQ(rig_.port->switches[0].height, 1080);
  EXPECT_TRUE(rig_.qx->isSuccessChangeResolution());
  // Now the way back goes, after 2 s.
  EXPECT_EQ(sentBy([&] { EXPECT_EQ(rig_.qx->change_display_3d(false), 0); }).size(), 1u);
  rig_.mainQueue->advanceBy(2s);
  ASSERT_EQ(rig_.port->switches.size(), 2u);
  EXPECT_EQ(rig_.port->switches[1].width, 1920);
}

TEST_F(ThreeDSwitch, AFailedOrImpossibleChangeReopensTheSwitch) {
  rig_.port->hold = true;
  EXPECT_EQ(rig_.qx->change_display_3d(true), 0);
  rig_.mainQueue->advanceBy(2s);
  ASSERT_TRUE(rig_.port->held);
  EXPECT_FALSE(rig_.qx->isSuccessChangeResolution());
  rig_.port->held(false);
  EXPECT_TRUE(rig_.qx->isSuccessChangeResolution());
  // No glasses screen: the change ends at once, as a failure.
  rig_.port->screen.reset();
  bool result = true;
  rig_.qx->deviceChangeResolution(false, [&](bool done) { result = done; });
  rig_.mainQueue->advanceBy(2s);
  EXPECT_FALSE(result);
  EXPECT_TRUE(rig_.qx->isSuccessChangeResolution());
  // Without a display layer at all, the same.
  rig_.qx->setDisplayPort(nullptr);
  EXPECT_EQ(rig_.qx->change_display_3d(true), 0);
  rig_.mainQueue->advanceBy(2s);
  EXPECT_TRUE(rig_.qx->isSuccessChangeResolution());
}

TEST_F(ThreeDSwitch, ExitSwitchesTo2DWhateverIsPending) {
  EXPECT_EQ(sentBy([&] { EXPECT_EQ(rig_.qx->change_display_3d(true), 0); }).size(), 1u);
  const size_t pending = rig_.mainQueue->pendingCount();
  GlassCommandReport twoD;
  glass_cmd_set_3d_mode(twoD, false);
  const auto sent = sentBy([&] { EXPECT_EQ(rig_.qx->switchTo2DForExit(), 0); });
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].report, twoD);
  EXPECT_EQ(rig_.mainQueue->pendingCount(), pending);
  rig_.unplug(*glasses_);
  ASSERT_TRUE(rig_.notes.waitFor(OrvexQXServer::kStatusChange, 2));
  EXPECT_EQ(rig_.qx->switchTo2DForExit(), -1);
}

TEST_F(ThreeDSwitch, WithoutAnyDeviceItAnswersMinusOne) {
  QxRig empty;
  EXPECT_EQ(empty.qx->change_display_3d(true), -1);
  EXPECT_EQ(empty.qx->start_display_3d(), -1);
  EXPECT_EQ(empty.mainQueue->pendingCount(), 0u);
}

TEST(OrvexQXServerLifetime, TheRuntimesStopListStopsTheMonitor) {
  dispatch::Runtime runtime(std::make_shared<dispatch::VirtualExecutor>(),
                            dispatch::Runtime::Options{2});
  QxRig rig;
  auto glasses = rig.plug(SimGlassesModel::secondGeneration());
  ASSERT_TRUE(rig.qx->rfDeviceMonitor().running());
  runtime.runStops();
  EXPECT_FALSE(rig.qx->rfDeviceMonitor().running());
  EXPECT_EQ(rig.qx->change_display_volume(1), -ENODEV);
}

TEST(OrvexQXServerLifetime, StopJoinsTheMonitorAndDetachesTheGlasses) {
  QxRig rig;
  auto glasses = rig.plug(SimGlassesModel::secondGeneration());
  rig.qx->stop();
  EXPECT_FALSE(rig.qx->rfDeviceMonitor().running());
  EXPECT_EQ(rig.qx->change_display_volume(1), -ENODEV);
  rig.qx->stop();  // idempotent
}

}  // namespace
}  // namespace vistrelle::device
