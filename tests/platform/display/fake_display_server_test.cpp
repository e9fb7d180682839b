// The fake's layouts and the change planner it shares with the RandR
// backend: moves, modes, hardware mirrors, the screen's box, refusals.
#include "platform/display/fake/fake_display_server.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace vistrelle::display {
namespace {

using namespace std::chrono_literals;

constexpr const char* kMirror = R"({"primary": "eDP-1", "crtcs": 3, "outputs": [
  {"name": "eDP-1", "connector": "Panel", "mode": "1920x1200", "crtc": 0},
  {"name": "DP-1", "monitor": "ORVEX Glass", "modes": ["1920x1200", "3840x1080"],
   "mode": "1920x1200", "crtc": 0},
  {"name": "HDMI-1", "connected": false}]})";

TEST(FakeDisplayServer, ReadsItsJsonLayout) {
  auto server = FakeDisplayServer::fromJson(kMirror);
  const DisplayLayout layout = server->layout(false, 1s).value();
  ASSERT_EQ(layout.outputs.size(), 3u);
  const DisplayOutput& panel = layout.outputs[0];
  const DisplayOutput& glasses = layout.outputs[1];
  EXPECT_TRUE(panel.builtin());
  EXPECT_EQ(glasses.name(), "ORVEX Glass");
  EXPECT_EQ(layout.outputs[2].name(), "HDMI-1");
  EXPECT_FALSE(layout.outputs[2].connected);
  EXPECT_FALSE(layout.outputs[2].active());
  EXPECT_EQ(panel.crtc, glasses.crtc);  // one CRTC, two outputs
  EXPECT_EQ(layout.findCrtc(panel.crtc)->outputs.size(), 2u);
  EXPECT_EQ(layout.primary, panel.id);
  EXPECT_EQ(std::make_pair(layout.screenWidth, layout.screenHeight), std::make_pair(1920, 1200));
  EXPECT_EQ(glasses.modes.size(), 2u);
  EXPECT_EQ(glasses.modes[0], panel.modes[0]);  // one id per size

  for (const char* bad :
       {"", "[", R"({"outputs": [{"mode": "1x1"}]})",
        R"({"outputs": [{"name": "A", "mode": "wide"}]})",
        R"({"primary": "B", "outputs": [{"name": "A"}]})",
        R"({"crtcs": 1, "outputs": [{"name": "A", "mode": "1x1", "crtc": 3}]})"}) {
    EXPECT_THROW(FakeDisplayServer::fromJson(bad), std::invalid_argument) << bad;
  }
}

TEST(FakeDisplayServer, AMirroredOutputLeavesForAFreeCrtcAndTheScreenFollows) {
  auto server = FakeDisplayServer::fromJson(kMirror);
  const DisplayLayout before = server->current();
  const DisplayOutput glasses = before.outputs[1];
  const uint32_t wide = glasses.modes[1].id;

  ASSERT_TRUE(server->apply({{{glasses.id, 1920, 0, wide}}, glasses.id}, 1s).ok());
  const DisplayLayout after = server->current();
  const DisplayOutput& moved = after.outputs[1];
  EXPECT_NE(moved.crtc, after.outputs[0].crtc);
  EXPECT_EQ(after.findCrtc(after.outputs[0].crtc)->outputs,
            std::vector<uint32_t>{after.outputs[0].id});
  EXPECT_EQ(std::make_tuple(moved.x, moved.y, moved.width, moved.height, moved.modeId),
            std::make_tuple(1920, 0, 3840, 1080, wide));
  EXPECT_EQ(after.primary, glasses.id);
  EXPECT_EQ(std::make_pair(after.screenWidth, after.screenHeight), std::make_pair(5760, 1200));
  EXPECT_EQ(server->changes().size(), 1u);
}

TEST(FakeDisplayServer, RefusalsLeaveTheLayoutAlone) {
  // Two outputs on one CRTC and no other CRTC: no way out of the mirror.
  auto server = FakeDisplayServer::fromJson(R"({"crtcs": 1, "outputs": [
    {"name": "eDP-1", "mode": "1920x1080", "crtc": 0},
    {"name": "DP-1", "mode": "1920x1080", "crtc": 0}]})");
  const DisplayLayout before = server->current();
  auto noCrtc = server->apply({{{before.outputs[1].id, 1920, 0, 0}}, 0}, 1s);
  ASSERT_FALSE(noCrtc.ok());
  EXPECT_EQ(noCrtc.error().kind, DisplayError::Kind::Refused);

  server->refuseChanges("no");
  auto refused = server->apply({{{before.outputs[0].id, 10, 0, 0}}, 0}, 1s);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().reason, "no");
  EXPECT_EQ(server->current().outputs[0].x, 0);

  server->loseServer();
  EXPECT_EQ(server->layout(false, 1s).error().kind, DisplayError::Kind::Lost);
  EXPECT_EQ(server->nudgePointer(1s).error().kind, DisplayError::Kind::Lost);
}

TEST(FakeDisplayServer, ModesListedOnlyAfterAProbe) {
  auto server = FakeDisplayServer::fromJson(R"({"outputs": [{"name": "DP-1",
    "modes": ["1920x1080"], "probedModes": ["3840x1080"], "mode": "1920x1080"}]})");
  EXPECT_EQ(server->layout(false, 1s).value().outputs[0].modes.size(), 1u);
  EXPECT_EQ(server->layout(true, 1s).value().outputs[0].modes.size(), 2u);
  EXPECT_EQ(server->layout(false, 1s).value().outputs[0].modes.size(), 2u);
  EXPECT_EQ(server->probes(), 1);
}

}  // namespace
}  // namespace vistrelle::display
