// The display configuration's rules on fake layouts: hosts and tips, the
// screens, hardware mirrors, refusals, the resolution switch and its probe,
// the exit restore, the accessibility nudge and the openers.
#include "device/display/display_configuration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "device/display/displays_rig.h"

namespace vistrelle::device {
namespace {

using namespace std::chrono_literals;
using testing::DisplaysRig;

// A laptop: its panel, the glasses extended to its right.
constexpr const char* kLaptop = R"({"primary": "eDP-1", "outputs": [
  {"name": "eDP-1", "connector": "Panel", "mode": "1920x1200"},
  {"name": "DP-1", "monitor": "ORVEX Glass", "modes": ["1920x1080", "3840x1080"],
   "mode": "1920x1080", "at": [1920, 0]}]})";

bool contains(const std::vector<std::string>& lines, const std::string& text) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

TEST(DisplayConfigurationHosts, DesktopHostsAndTheirTips) {
  struct Case {
    const char* what;
    const char* json;
    bool desktop;
    bool tip;
    bool onlyGlasses;
  };
  const Case cases[] = {
      {"laptop and glasses", kLaptop, false, false, false},
      {"lid closed, a monitor and the glasses", R"({"outputs": [
         {"name": "eDP-1", "connector": "Panel"},
         {"name": "HDMI-1", "monitor": "DELL U2720Q", "mode": "2560x1440"},
         {"name": "DP-1", "monitor": "ORVEX Glass", "mode": "1920x1080", "at": [2560, 0]}]})",
       false, false, false},
      {"lid closed, only the glasses", R"({"outputs": [
         {"name": "eDP-1", "connector": "Panel"},
         {"name": "DP-1", "monitor": "ORVEX Glass", "mode": "1920x1080"}]})",
       false, true, false},
      {"a panel the driver does not type", R"({"outputs": [
         {"name": "LVDS-1", "mode": "1366x768"}]})",
       false, false, false},
      {"a phone-style panel", R"({"outputs": [{"name": "DSI-1", "mode": "1080x1920"}]})", false,
       false, false},
      {"desktop, a monitor and the glasses", R"({"outputs": [
         {"name": "HDMI-1", "monitor": "DELL U2720Q", "mode": "2560x1440"},
         {"name": "DP-1", "monitor": "ORVEX Glass", "mode": "1920x1080", "at": [2560, 0]}]})",
       true, true, false},
      {"desktop, only the glasses and their second monitor", R"({"outputs": [
         {"name": "DP-1", "monitor": "ORVEX Glass", "mode": "1920x1080"},
         {"name": "DP-2", "monitor": "Orvex Monitor", "mode": "1920x1080", "at": [1920, 0]}]})",
       true, true, true},
      {"desktop, no screen on", R"({"outputs": [{"name": "HDMI-1", "connected": false}]})", true,
       true, true},
  };
  for (const Case& c : cases) {
    DisplaysRig rig(c.json);
    EXPECT_EQ(rig.displays->isDesktopHost(), c.desktop) << c.what;
    EXPECT_EQ(rig.displays->needsExternalDisplayTip(), c.tip) << c.what;
    EXPECT_EQ(rig.displays->isMacMiniWithOnlyGlassesScreens(), c.onlyGlasses) << c.what;
  }
}

TEST(DisplayConfigurationScreens, NamesIdsTheMainScreenAndTheRememberedBuiltIn) {
  DisplaysRig rig(kLaptop);
  const auto screens = rig.displays->screens();
  ASSERT_EQ(screens.size(), 2u);
  EXPECT_EQ(screens[0],
            (DisplayScreen{rig.id("eDP-1"), "eDP-1", "eDP-1", 0, 0, 1920, 1200, true, true}));
  EXPECT_EQ(screens[1], (DisplayScreen{rig.id("DP-1"), "ORVEX Glass", "DP-1", 1920, 0, 1920, 1080,
                                       false, false}));
  EXPECT_EQ(rig.displays->glassesScreen()->displayID, rig.id("DP-1"));
  EXPECT_EQ(rig.displays->mainScreen()->displayID, rig.id("eDP-1"));
  EXPECT_EQ(rig.displays->outputIdForName("DP-1"), rig.id("DP-1"));
  EXPECT_EQ(rig.displays->outputIdForName("DP-9"), std::nullopt);
  EXPECT_EQ(rig.displays->externalNonGlassesScreen(), std::nullopt);  // a built-in exists

  // Found once, never refreshed: the panel moved, the remembered one did not.
  ASSERT_EQ(rig.displays->builtinScreen()->x, 0);
  ASSERT_TRUE(rig.fake->apply({{{rig.id("eDP-1"), 1920, 0, 0}, {rig.id("DP-1"), 0, 0, 0}}, 0}, 1s));
  EXPECT_EQ(rig.displays->builtinScreen()->x, 0);
  EXPECT_EQ(rig.displays->screens()[0].x, 1920);
}

TEST(DisplayConfigurationScreens, CountsOnlineOutputsUpToSixteen) {
  std::string outputs;
  for (int i = 0; i < 20; ++i) {
    outputs += std::string(i ? "," : "") + R"({"name": "HDMI-)" + std::to_string(i) +
               R"(", "connected": )" + (i == 19 ? "false" : "true") + "}";
  }
  DisplaysRig many(R"({"outputs": [)" + outputs + "]}");
  EXPECT_EQ(many.displays->onlineDisplayCount(), 16);

  DisplaysRig laptop(kLaptop);
  EXPECT_EQ(laptop.displays->onlineDisplayCount(), 2);
  laptop.fake->loseServer();
  EXPECT_EQ(laptop.displays->onlineDisplayCount(), 0);
  ASSERT_EQ(laptop.printed.size(), 1u);
  EXPECT_EQ(laptop.printed[0].rfind("获取显示器列表失败: ", 0), 0u) << laptop.printed[0];
}

// Glasses sharing the panel's CRTC (a hardware mirror) get a CRTC of their own.
TEST(DisplayConfigurationMirror, AHardwareMirrorEndsOnAFreeCrtc) {
  DisplaysRig rig(R"({"primary": "eDP-1", "crtcs": 3, "outputs": [
    {"name": "eDP-1", "connector": "Panel", "modes": ["1920x1080"], "mode": "1920x1080", "crtc": 0},
    {"name": "DP-1", "monitor": "ORVEX Glass", "modes": ["1920x1080"], "mode": "1920x1080",
     "crtc": 0}]})");
  EXPECT_TRUE(rig.displays->cancelGlassesMirrorAndMoveMain(true, true));
  const auto panel = rig.output("eDP-1");
  const auto glasses = rig.output("DP-1");
  EXPECT_NE(panel.crtc, glasses.crtc);
  EXPECT_EQ(std::make_pair(glasses.x, glasses.y), std::make_pair(1920, 0));
  EXPECT_EQ(rig.current().primary, rig.id("eDP-1"));
  EXPECT_TRUE(contains(rig.traced, "---取消眼镜--镜像设置成功----"));
  // Done: a second call changes nothing.
  const size_t changes = rig.fake->changes().size();
  EXPECT_TRUE(rig.displays->cancelGlassesMirrorAndMoveMain(true, true));
  EXPECT_EQ(rig.fake->changes().size(), changes);
}

TEST(DisplayConfigurationMirror, RefusedChangesAnswerFalseAndAreLoggedOnce) {
  DisplaysRig rig(R"({"primary": "DP-1", "outputs": [
    {"name": "eDP-1", "connector": "Panel", "mode": "1920x1080"},
    {"name": "DP-1", "monitor": "ORVEX Glass", "mode": "1920x1080"}]})");
  rig.fake->refuseChanges("SetCrtcConfig: the server could not set the CRTC");
  EXPECT_FALSE(rig.displays->cancelGlassesMirrorAndMoveMain(false, true));
  EXPECT_FALSE(rig.displays->cancelGlassesMirrorAndMoveMain(false, true));
  EXPECT_TRUE(contains(rig.traced, "----取消眼镜--镜像设置失败--"));
  EXPECT_TRUE(contains(rig.traced, "---取消眼镜--错误：SetCrtcConfig"));
  EXPECT_TRUE(contains(rig.traced, "----设置内置显示器为主屏幕失败-0000-"));
  EXPECT_TRUE(contains(rig.traced, "-1111--错误：SetCrtcConfig"));
  // Retried every 1.25 s by its callers: each reason reaches the log once.
  EXPECT_EQ(std::count_if(
                rig.logged.begin(), rig.logged.end(),
                [](const std::string& line) { return line.find("mirror") != std::string::npos; }),
            1);

  rig.fake->loseServer();
  EXPECT_FALSE(rig.displays->cancelGlassesMirrorAndMoveMain(false, false));
}

// A closed lid: the remembered panel is off, so there is nowhere to move the
// main display and nothing is tried.
TEST(DisplayConfigurationMirror, ARememberedPanelThatIsOffIsNoTarget) {
  DisplaysRig rig(R"({"primary": "eDP-1", "outputs": [
    {"name": "eDP-1", "connector": "Panel", "mode": "1920x1080"},
    {"name": "DP-1", "monitor": "ORVEX Glass", "mode": "1920x1080", "at": [1920, 0]}]})");
  ASSERT_TRUE(rig.displays->builtinScreen().has_value());
  rig.fake->turnOff("eDP-1");
  EXPECT_TRUE(rig.displays->cancelGlassesMirrorAndMoveMain(false, true));
  EXPECT_TRUE(rig.fake->changes().empty());
}

TEST(DisplayConfigurationResolution, SwitchesToTheFirstModeOfTheWidth) {
  struct Case {
    const char* what;
    const char* json;  // the glasses are DP-1
    int width;
    int height;
    bool answer;
    int widthAfter;
    int heightAfter;
    int probes;
  };
  const Case cases[] = {
      {"already at the size", R"({"outputs": [{"name": "DP-1", "monitor": "ORVEX Glass",
         "modes": ["1920x1080", "3840x1080"], "mode": "3840x1080"}]})",
       3840, 1080, true, 3840, 1080, 0},
      {"1920 to 3840, the height not compared", R"({"outputs": [{"name": "DP-1",
         "monitor": "ORVEX Glass", "modes": ["1920x1080", "3840x2160", "3840x1080"],
         "mode": "1920x1080"}]})",
       3840, 1080, true, 3840, 2160, 0},
      {"no mode of the width, even after a probe", R"({"outputs": [{"name": "DP-1",
         "monitor": "ORVEX Glass", "modes": ["1920x1080"], "mode": "1920x1080"}]})",
       3840, 1080, false, 1920, 1080, 1},
      {"no modes at all", R"({"outputs": [{"name": "DP-1", "monitor": "ORVEX Glass",
         "modes": [], "mode": "1920x1080"}]})",
       3840, 1080, false, 1920, 1080, 1},
      {"the width listed only after the probe", R"({"outputs": [{"name": "DP-1",
         "monitor": "ORVEX Glass", "modes": ["1920x1080"], "probedModes": ["3840x1080"],
         "mode": "1920x1080"}]})",
       3840, 1080, true, 3840, 1080, 1},
  };
  for (const Case& c : cases) {
    DisplaysRig rig(c.json);
    int calls = 0;
    bool answer = !c.answer;
    rig.displays->resolutionSwitch(rig.id("DP-1"), c.width, c.height, [&](bool done) {
      ++calls;
      answer = done;
    });
    EXPECT_EQ(calls, 1) << c.what;
    EXPECT_EQ(answer, c.answer) << c.what;
    const auto glasses = rig.output("DP-1");
    EXPECT_EQ(glasses.width, c.widthAfter) << c.what;
    EXPECT_EQ(glasses.height, c.heightAfter) << c.what;
    EXPECT_EQ(rig.fake->probes(), c.probes) << c.what;
    EXPECT_EQ(rig.printLogged, std::vector<std::string>{"开始设置分辨率"}) << c.what;
  }
}

TEST(DisplayConfigurationResolution, FailuresCompleteWithFalse) {
  DisplaysRig rig(kLaptop);
  std::vector<bool> answers;
  auto record = [&](bool done) { answers.push_back(done); };
  rig.displays->resolutionSwitch(0x7fff, 3840, 1080, record);  // no such display
  rig.fake->refuseChanges("the server could not set the CRTC");
  rig.displays->resolutionSwitch(rig.id("DP-1"), 3840, 1080, record);
  rig.fake->loseServer();
  rig.displays->resolutionSwitch(rig.id("DP-1"), 3840, 1080, record);
  EXPECT_EQ(answers, (std::vector<bool>{false, false, false}));
  EXPECT_TRUE(contains(rig.traced, "分辨率切换失败 the server could not set the CRTC"));
}

TEST(DisplayConfigurationResolution, TheExitRestoreSetsTheGlassesBackTo1920) {
  DisplaysRig wide(R"({"outputs": [{"name": "eDP-1", "connector": "Panel", "mode": "1920x1080"},
    {"name": "DP-1", "monitor": "ORVEX Glass", "modes": ["3840x1080", "1920x1080"],
     "mode": "3840x1080", "at": [1920, 0]}]})");
  EXPECT_TRUE(wide.displays->restoreGlasses1920Sync());
  EXPECT_EQ(wide.output("DP-1").width, 1920);
  EXPECT_EQ(wide.output("DP-1").x, 1920);
  EXPECT_TRUE(wide.displays->restoreGlasses1920Sync());  // nothing left to do
  EXPECT_EQ(wide.fake->changes().size(), 1u);

  DisplaysRig none(
      R"({"outputs": [{"name": "eDP-1", "connector": "Panel", "mode": "1920x1080"}]})");
  EXPECT_TRUE(none.displays->restoreGlasses1920Sync());

  DisplaysRig noNarrow(R"({"outputs": [{"name": "DP-1", "monitor": "ORVEX Glass",
    "mode": "3840x1080"}]})");
  EXPECT_FALSE(noNarrow.displays->restoreGlasses1920Sync());

  DisplaysRig lost(kLaptop);
  lost.fake->loseServer();
  EXPECT_FALSE(lost.displays->restoreGlasses1920Sync());
}

TEST(DisplayConfigurationPermissions, AnUntrustedProcessNudgesThePointerOnceAQuarterSecondLater) {
  DisplaysRig rig(kLaptop);
  EXPECT_TRUE(rig.displays->checkAccessibilityPermission());
  rig.mainQueue->advanceBy(1s);
  EXPECT_EQ(rig.fake->nudges(), 0);

  rig.trusted = false;
  EXPECT_FALSE(rig.displays->checkAccessibilityPermission());
  EXPECT_FALSE(rig.displays->checkAccessibilityPermission());
  rig.mainQueue->advanceBy(249ms);
  EXPECT_EQ(rig.fake->nudges(), 0);
  rig.mainQueue->advanceBy(1ms);
  EXPECT_EQ(rig.fake->nudges(), 1);
  EXPECT_FALSE(rig.displays->checkAccessibilityPermission());
  rig.mainQueue->advanceBy(10s);
  EXPECT_EQ(rig.fake->nudges(), 1);

  rig.displays->postSyntheticMouseMove();
  EXPECT_EQ(rig.fake->nudges(), 2);
}

TEST(DisplayConfigurationOpeners, ProgramsStartFromArgumentListsOnly) {
  DisplaysRig rig(kLaptop);
  const std::string url = "https://example.com/a b?q=$(touch x)&r=`id`;rm -rf ~";
  rig.displays->openURLString(url);
  rig.displays->openURLString("");

  rig.installed = {"arandr", "xfce4-display-settings"};
  rig.displays->openDisplaysSettings();
  rig.installed.clear();
  rig.displays->openDisplaysSettings();
  rig.displays->openScreenCapturePrivacySettings();

  const auto launches = rig.launcher->launches();
  ASSERT_EQ(launches.size(), 2u);
  EXPECT_EQ(launches[0].argv, (std::vector<std::string>{"xdg-open", url}));
  // The table's order, not the order found: Xfce's own before arandr.
  EXPECT_EQ(launches[1].argv, (std::vector<std::string>{"xfce4-display-settings"}));
  // Nothing installed: the user is told what to set.
  EXPECT_EQ(rig.messages.size(), 1u);
  EXPECT_TRUE(contains(rig.logged, "nothing to open"));
}

TEST(DisplayConfigurationOpeners, NoticesGoToTheCentre) {
  DisplaysRig rig(kLaptop);
  std::vector<Value> seen;
  auto subscription =
      rig.center.observe("ORVEX_Glass_Display_StatusChange_NSNotificationName", nullptr,
                         [&](const Notification& note) { seen.push_back(note.object); });
  rig.displays->postNotification("ORVEX_Glass_Display_StatusChange_NSNotificationName", Value(1));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].asInt(), 1);
}

}  // namespace
}  // namespace vistrelle::device
