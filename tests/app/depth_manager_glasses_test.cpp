// The AI-3D manager driving simulated glasses through the real command
// layer on the simulated HID bus, on virtual time: what reaches the glasses,
// in order, and when.
#include <gtest/gtest.h>

#include "ai3d/manager/manager_rig.h"
#include "app/qx_glasses_control.h"
#include "device/hid/qx_rig.h"

namespace vistrelle {
namespace {

using namespace std::chrono_literals;
using testing::ManagerRig;
using testing::QxRig;

struct Sent {
  uint16_t group;
  uint16_t command;
  int64_t value;  // the command's parameter, -1 for none
  bool operator==(const Sent&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Sent& sent) {
  return out << "(" << sent.group << "," << sent.command << ") " << sent.value;
}

std::vector<Sent> sentTo(sim::SimGlassesHidDevice& device, size_t count) {
  EXPECT_TRUE(device.waitForWrites(count));
  std::vector<Sent> sent;
  for (const sim::SimCommandRecord& record : device.glasses().commandLog()) {
    int64_t value = -1;
    for (const char* field : {"value", "duty", "flag"}) {
      auto found = record.params.find(field);
      if (found != record.params.end()) value = found->second.intOr(-1);
    }
    sent.push_back({record.group, record.command, value});
  }
  return sent;
}

TEST(DepthManagerGlasses, ThreeDOnAtOpenDutyAndWearDetectionAfterTheScreenTwoDAtClose) {
  QxRig qx;
  auto device = qx.plug(sim::SimGlassesModel::secondGeneration());
  ASSERT_TRUE(qx.state.glassStatus.load());
  device->glasses().clearCommandLog();
  const size_t before = device->writesReceived();

  QxGlassesControl control(*qx.qx);
  ManagerRig rig({.glasses = &control, .state = &qx.state, .main = qx.mainQueue});
  rig.manager->open3DWindow();
  rig.settle();
  // Generation 2 goes to side by side with its display parameter.
  EXPECT_EQ(sentTo(*device, before + 1), (std::vector<Sent>{{1, 4, 3840}}));

  // The screen is found at 1 s; the command layer widens it at 2 s.
  rig.advance(2s);
  ASSERT_EQ(qx.port->switches.size(), 1u);
  EXPECT_EQ(qx.port->switches[0].width, 3840);
  rig.advance(4s - 2s - 1ms);
  EXPECT_EQ(device->writesReceived(), before + 1);
  EXPECT_EQ(rig.posted, std::vector<int>{1});
  rig.advance(1ms);
  EXPECT_EQ(sentTo(*device, before + 2).back(), (Sent{1, 6, 9}));
  rig.advance(49ms);
  EXPECT_EQ(device->writesReceived(), before + 2);
  rig.advance(1ms);
  const std::vector<Sent> opened = sentTo(*device, before + 3);
  ASSERT_EQ(opened.size(), 3u);
  EXPECT_EQ(opened.back().group, 6) << "wear detection on";
  EXPECT_EQ(opened.back().command, 1);

  rig.manager->close3DWindow();
  rig.settle();
  EXPECT_EQ(sentTo(*device, before + 4).back(), (Sent{1, 3, 1})) << "back to 2D";
  rig.advance(2s);
  ASSERT_EQ(qx.port->switches.size(), 2u);
  EXPECT_EQ(qx.port->switches[1].width, 1920);
}

TEST(DepthManagerGlasses, UnplugDuringTheSearchSendsNothingMore) {
  QxRig qx;
  auto device = qx.plug(sim::SimGlassesModel::secondGeneration());
  QxGlassesControl control(*qx.qx);
  ManagerRig rig({.glasses = &control, .state = &qx.state, .main = qx.mainQueue});
  rig.screens.table = {testing::FakeScreens::glasses(1920)};
  rig.manager->open3DWindow();
  rig.settle();
  rig.advance(1500ms);
  const uint64_t epoch = control.connectionEpoch();
  qx.unplug(*device);
  EXPECT_NE(control.connectionEpoch(), epoch);
  EXPECT_FALSE(control.hasCurrentDevice());
  rig.advance(10s);
  EXPECT_TRUE(rig.logs("====眼镜拔出===222="));
  EXPECT_TRUE(rig.posted.empty());
  EXPECT_EQ(control.switchDisplay3D(false), -1) << "no glasses: nothing to switch";
}

}  // namespace
}  // namespace vistrelle
