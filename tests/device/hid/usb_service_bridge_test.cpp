// The C bridge over the shared facade, driven from C (see
// usb_service_bridge_checks.c) against simulated glasses on the process'
// HID back-end.
#include "device/hid/usb_service_bridge.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "device/hid/orvex_usb_service_oc.h"
#include "device/hid/usb_service_bridge_checks.h"
#include "device/monitors/notification_recorder.h"
#include "device/protocol/glass_report.h"
#include "platform/dispatch/runtime.h"
#include "platform/dispatch/virtual_executor.h"
#include "sim/hid/sim_glasses_hid_device.h"

namespace vistrelle::device {
namespace {

using namespace std::chrono_literals;

TEST(UsbServiceBridge, EveryEntryPointFromC) {
  // The shared facade uses the process' settings store and HID back-end:
  // a private folder and the simulated bus, before it is first made.
  const std::string home = ::testing::TempDir() + "bridge-home";
  std::filesystem::create_directories(home);
  ::setenv("XDG_CONFIG_HOME", home.c_str(), 1);
  auto bus = sim::SimHidBus::create();
  hid::HidBackend::install(bus);
  auto main = std::make_shared<dispatch::VirtualExecutor>("main");
  dispatch::Runtime runtime(main, dispatch::Runtime::Options{2});
  OrvexUSBServiceOC& facade = OrvexUSBServiceOC::shareManager();

  // Callbacks: null ones swallow, set ones receive.
  EXPECT_EQ(bridge_install_callbacks(0), 0);
  facade.printLog("lost");
  facade.updateAppPositionWithResult(1);
  EXPECT_EQ(bridge_log_calls(), 0);
  EXPECT_EQ(bridge_position_calls(), 0);
  EXPECT_EQ(bridge_install_callbacks(1), 0);
  facade.printLog("开始设置分辨率");
  facade.updateAppPositionWithResult(42);
  EXPECT_STREQ(bridge_last_log(), "开始设置分辨率");
  EXPECT_EQ(bridge_last_position(), 42);

  EXPECT_EQ(bridge_virtual_displays(), 0);
  // Nothing started, no glasses.
  EXPECT_EQ(bridge_open_3d(), -1);
  float untouched[4] = {9, 9, 9, 9};
  EXPECT_EQ(bridge_orientation(untouched), 0);
  if (GlassReport::shared().currentGeneration() == 0) {
    EXPECT_EQ(untouched[0], 9);
  }

  EXPECT_EQ(bridge_start(), 0);
  auto glassesClock = std::make_shared<dispatch::VirtualExecutor>("glasses");
  sim::SimGlassesHidDevice glasses(bus, sim::SimGlassesModel::firstGeneration(), glassesClock);
  glasses.glasses().setOrientation({0.5f, 0.25f, -0.25f, 0.75f});
  glasses.plug();
  auto& qx = facade.qxService();
  ASSERT_TRUE(testing::eventually([&] { return qx.ioHidDevice().has_value(); }));
  EXPECT_EQ(bridge_open_3d(), 0);
  // The resolution change that follows (5 s at most) must end first.
  main->advanceBy(5s);
  EXPECT_EQ(bridge_close_3d(), 0);
  ASSERT_TRUE(glasses.waitForWrites(2));
  EXPECT_EQ(glasses.glasses().state().displayMode, 1);

  // First-generation glasses report their orientation themselves.
  glassesClock->advanceBy(5ms);
  ASSERT_TRUE(testing::eventually([] { return GlassReport::shared().currentGeneration() == 1; }));
  float orientation[4] = {0, 0, 0, 0};
  ASSERT_TRUE(testing::eventually([&] {
    EXPECT_EQ(bridge_orientation(orientation), 0);
    return orientation[3] == 0.75f;
  }));
  EXPECT_EQ(orientation[0], 0.5f);
  EXPECT_EQ(orientation[2], -0.25f);

  glasses.unplug();
  qx.stop();
}

}  // namespace
}  // namespace vistrelle::device
