// One whole update on the simulated bus: glasses with old firmware, the
// command layer and its HID monitor, the window's logic and the driver, the
// simulated boot loader, and the glasses back with the new firmware.
#include <gtest/gtest.h>

#include "device/firmware/dfu_notifications.h"
#include "device/firmware/dfu_update_driver.h"
#include "device/firmware/firmware_test_support.h"
#include "device/firmware/orvex_dfu_update_view_controller.h"
#include "device/firmware/qx_server_dfu_port.h"
#include "device/hid/qx_rig.h"
#include "sim/firmware/sim_bootloader.h"
#include "sim/hid/sim_hid_io_transport.h"

namespace vistrelle::device {
namespace {

using namespace std::chrono_literals;

struct ShownView : DfuUpdateView {
  void setImage(const std::string& name) override { image = name; }
  void setTipsText(const std::string& text, const DfuTipsStyle&) override { tips = text; }
  void setTips2Text(const std::string& text) override { tips2 = text; }
  void setButtonHidden(bool hidden) override { buttonHidden = hidden; }
  void setButtonTitle(const std::string&, const std::string&) override {}
  void setButtonBackground(const std::string&) override {}
  void setProgressHidden(bool) override {}
  void setProgressValue(double percent) override { progress = percent; }
  std::string image, tips, tips2;
  bool buttonHidden = false;
  double progress = 0;
};

// The version the glasses answer, stored as the connection road stores it.
std::string askVersion(testing::QxRig& rig, sim::SimGlassesHidDevice& glasses, size_t answers) {
  const size_t before = glasses.writesReceived();
  EXPECT_EQ(rig.qx->getOrvexGlassFirmwareVersion(), 0);
  // The reply is due on the glasses' clock once they have the request.
  EXPECT_TRUE(glasses.waitForWrites(before + 1));
  rig.sim.glassesClock->runUntilIdle();
  EXPECT_TRUE(rig.notes.waitFor(GlassReport::kVersionNotification, answers));
  const std::string version =
      rig.notes.objects(GlassReport::kVersionNotification).back().stringOr("");
  rig.state.glassVersion.set(version);
  return version;
}

bool needsUpdate(testing::QxRig& rig) {
  bool needs = false;
  rig.qx->checkNeedDfuUpdate([&](bool answer) { needs = answer; });
  return needs;
}

TEST(FirmwareUpdateEndToEnd, OldGlassesAreFlashedAndComeBackCurrent) {
  testing::QxRig rig;
  sim::SimGlassesModel model = sim::SimGlassesModel::secondGeneration();
  model.versionText = "ORVEX2_FW_V1.9";
  auto glasses = rig.plug(model);
  EXPECT_EQ(askVersion(rig, *glasses, 1), "ORVEX2_FW_V1.9");
  EXPECT_TRUE(needsUpdate(rig));

  testing::ScratchFolder folder;
  const std::vector<uint8_t> image = testing::testImage(20'000);
  folder.write(std::string(DfuUpdateDriver::kImageModel1) + ".bin",
               DfuFirmwareFile::build("V1.63", image));
  sim::SimBootloader bootloader(rig.sim.bus);  // reports model 1
  bootloader.takeOverFrom(*glasses, rig.sim.glassesClock, 500ms);
  bootloader.expectImage(image);
  bootloader.bringUpAfterFlash(glasses.get(), "ORVEX2_FW_V1.63");

  testing::LogLines log;
  DfuUpdateDriver::Options driverOptions;
  driverOptions.transport = std::make_shared<sim::SimHidIoTransport>(rig.sim.bus);
  driverOptions.center = &rig.center;
  driverOptions.log = log.sink();
  driverOptions.imageFolder = folder.path();
  DfuUpdateDriver driver(driverOptions);

  GCXTimer timer(rig.mainQueue, rig.mainQueue);
  ShownView view;
  OrvexDFUUpdateViewController::Dependencies deps;
  deps.glasses = std::make_shared<QxServerDfuPort>([&rig] { return rig.qx.get(); });
  deps.center = &rig.center;
  deps.state = &rig.state;
  deps.mainQueue = rig.mainQueue;
  deps.timer = &timer;
  deps.runUpdate = [&driver] { return driver.runDfuUpdate(); };
  deps.localize = [](std::string_view key) { return std::string(key); };
  {
    OrvexDFUUpdateViewController window(view, deps);
    window.viewDidLoad();
    window.updateButtonClick();
    EXPECT_EQ(view.tips, "正在升级，请勿拔出眼镜");

    // (9, 0) took the glasses off the bus; the boot loader comes 0.5 s later.
    ASSERT_TRUE(rig.notes.waitFor(HIDDeviceMonitor::kDisconnected, 1));
    rig.sim.glassesClock->advanceBy(500ms);
    ASSERT_TRUE(rig.notes.waitFor(OrvexQXServer::kStatusChange, 3));  // 1, 0, 1
    ASSERT_TRUE(rig.qx->connectedDevice());
    EXPECT_EQ(rig.qx->connectedDevice()->deviceInfo().vendorId, 0x0416);
    EXPECT_TRUE(needsUpdate(rig)) << "glasses in their boot loader";
    // What the connection road does on a plug-in reaches the boot loader too,
    // which takes no notice; then it tells the window the boot loader is here.
    EXPECT_EQ(rig.qx->changeIMUWithGlass(true), 0);
    EXPECT_EQ(rig.qx->getOrvexGlassFirmwareVersion(), 0);
    rig.state.isBeginUpdateDfu.store(true);

    rig.mainQueue->advanceBy(1250ms);  // the wait ends at once: the driver starts
    ASSERT_TRUE(rig.notes.waitFor(OrvexQXServer::kStatusChange, 5));  // 0, 1: glasses back
    EXPECT_TRUE(bootloader.ran());
    EXPECT_EQ(bootloader.flash(static_cast<uint32_t>(image.size())), image);
    EXPECT_EQ(bootloader.outOfOrderPackets(), 0u);
    EXPECT_GE(bootloader.ignoredWrites(), 2u);
    EXPECT_TRUE(testing::eventually([&] { return log.contains("升级成功!"); }));

    rig.mainQueue->runUntilIdle();
    EXPECT_EQ(view.tips2, "版本V1.63");
    EXPECT_EQ(view.progress, 95) << "the rest waits for the glasses";
    EXPECT_EQ(rig.notes.count(dfu_notifications::kStatus), 0u);
    // The connection road posts the success once the glasses are back.
    rig.center.post(dfu_notifications::kStatus, Value(true));
    rig.mainQueue->runUntilIdle();
    EXPECT_EQ(view.image, "update-dfu-success");
    EXPECT_FALSE(rig.state.isDfuUpdateStart.load());
  }
  EXPECT_EQ(rig.qx->connectedDevice()->deviceInfo().productId, 0x8003);
  EXPECT_EQ(askVersion(rig, *glasses, 2), "ORVEX2_FW_V1.63");
  EXPECT_FALSE(needsUpdate(rig));
}

}  // namespace
}  // namespace vistrelle::device
