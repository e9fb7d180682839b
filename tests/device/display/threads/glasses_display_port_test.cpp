// The command layer's 3D switch reaching the glasses' screen through the
// display port: simulated glasses on the HID road, the screen on an Xorg
// dummy server, the switch's delay on virtual time.
#include <gtest/gtest.h>

#include "device/display/displays_rig.h"
#include "device/display/glasses_display_adapter.h"
#include "device/hid/qx_rig.h"
#include "platform/display/linux/randr_display_server.h"
#include "support/xorg_dummy_server.h"

namespace vistrelle::device {
namespace {

using namespace std::chrono_literals;
using testing::DisplaysRig;
using testing::DummyLayout;
using testing::QxRig;
using testing::XorgDummyServer;

TEST(GlassesDisplayPort, ThreeDOnMakesTheGlassesScreen3840Wide) {
  XorgDummyServer xorg;
  ASSERT_TRUE(xorg.running()) << xorg.error();
  ASSERT_TRUE(xorg.bringUpGlasses());
  DisplaysRig displays("", std::make_shared<display::RandrDisplayServer>(xorg.display()));
  QxRig rig;
  rig.qx->setDisplayPort(std::make_shared<GlassesDisplayAdapter>(*displays.displays));
  auto glasses = rig.plug(sim::SimGlassesModel::secondGeneration());

  EXPECT_EQ(rig.qx->change_display_3d(true), 0);
  rig.mainQueue->advanceBy(1999ms);
  EXPECT_EQ(xorg.witness("DUMMY1")->width, 1920);
  rig.mainQueue->advanceBy(1ms);
  auto seen = xorg.witness("DUMMY1");
  ASSERT_TRUE(seen.has_value());
  EXPECT_EQ(std::tie(seen->x, seen->width, seen->height), std::make_tuple(1920, 3840, 1080));
  EXPECT_EQ(displays.printLogged, std::vector<std::string>{"开始设置分辨率"});
  EXPECT_TRUE(rig.qx->isSuccessChangeResolution());

  EXPECT_EQ(rig.qx->change_display_3d(false), 0);
  rig.mainQueue->advanceBy(2s);
  EXPECT_EQ(xorg.witness("DUMMY1")->width, 1920);
}

}  // namespace
}  // namespace vistrelle::device
