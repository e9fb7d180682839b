// The display configuration against an Xorg dummy server, each result read
// back with xrandr: DUMMY0 is the built-in panel, DUMMY1 the glasses.
#include <gtest/gtest.h>

#include <chrono>

#include "device/display/display_configuration.h"
#include "device/display/displays_rig.h"
#include "platform/display/linux/randr_display_server.h"
#include "support/xorg_dummy_server.h"

namespace vistrelle::device {
namespace {

using namespace std::chrono_literals;
using testing::DisplaysRig;
using testing::DummyLayout;
using testing::XorgDummyServer;
using testing::XrandrOutput;

class DisplayConfigurationXorgTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    xorg_ = new XorgDummyServer();
    if (!xorg_->running()) {
      setUpError_ = xorg_->error();
    } else if (std::string error; !xorg_->bringUpGlasses(&error)) {
      setUpError_ = error;
    }
  }
  static void TearDownTestSuite() {
    delete xorg_;
    xorg_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(setUpError_.empty()) << setUpError_; }

  // A fresh configuration (its built-in screen not yet remembered) on the
  // server set to `layout`.
  std::unique_ptr<DisplaysRig> rigOn(DummyLayout layout, const std::string& primary = {}) {
    EXPECT_TRUE(xorg_->setLayout(layout, primary));
    return std::make_unique<DisplaysRig>(
        "", std::make_shared<display::RandrDisplayServer>(xorg_->display()));
  }
  static std::tuple<bool, int, int, int, int> placed(const std::optional<XrandrOutput>& output) {
    if (!output) return {};
    return {output->active, output->x, output->y, output->width, output->primary};
  }

  static XorgDummyServer* xorg_;
  static std::string setUpError_;
};

XorgDummyServer* DisplayConfigurationXorgTest::xorg_ = nullptr;
std::string DisplayConfigurationXorgTest::setUpError_;

TEST_F(DisplayConfigurationXorgTest, MirrorsEndAndTheMainDisplayLeavesTheGlasses) {
  struct Case {
    const char* what;
    DummyLayout layout;
    const char* primary;
    bool moveMain;
    bool answer;
  };
  // Every case ends with the panel primary at 0,0 and the glasses to its right.
  const Case cases[] = {
      {"mirrored, the panel primary", DummyLayout::Mirrored, "DUMMY0", true, true},
      {"mirrored, the glasses primary", DummyLayout::Mirrored, "DUMMY1", true, true},
      // Ending the mirror never leaves the glasses main, moveMain or not.
      {"mirrored, the glasses primary, main not to move", DummyLayout::Mirrored, "DUMMY1", false,
       true},
      {"extended, the glasses primary", DummyLayout::Extended, "DUMMY1", true, true},
      {"extended already", DummyLayout::Extended, "DUMMY0", true, true},
  };
  for (const Case& c : cases) {
    auto rig = rigOn(c.layout, c.primary);
    EXPECT_EQ(rig->displays->cancelGlassesMirrorAndMoveMain(false, c.moveMain), c.answer) << c.what;
    EXPECT_EQ(placed(xorg_->witness("DUMMY0")), std::make_tuple(true, 0, 0, 1920, 1)) << c.what;
    EXPECT_EQ(placed(xorg_->witness("DUMMY1")), std::make_tuple(true, 1920, 0, 1920, 0)) << c.what;
  }
}

TEST_F(DisplayConfigurationXorgTest, WhatCannotOrMustNotMoveStaysWhereItIs) {
  struct Case {
    const char* what;
    DummyLayout layout;
    const char* primary;
    bool requireTwoScreens;
    bool moveMain;
    bool answer;
  };
  const Case cases[] = {
      {"the glasses alone, main to move", DummyLayout::GlassesAlone, "", false, true, true},
      {"the glasses alone, main not to move", DummyLayout::GlassesAlone, "", false, false, false},
      {"the glasses main, main not to move", DummyLayout::Extended, "DUMMY1", false, false, false},
      {"one screen, two required", DummyLayout::GlassesOff, "", true, true, false},
      {"one screen, unmirrored", DummyLayout::GlassesOff, "", false, true, true},
  };
  for (const Case& c : cases) {
    auto rig = rigOn(c.layout, c.primary);
    const std::string before = xorg_->xrandr();
    EXPECT_EQ(rig->displays->cancelGlassesMirrorAndMoveMain(c.requireTwoScreens, c.moveMain),
              c.answer)
        << c.what;
    EXPECT_EQ(xorg_->xrandr(), before) << c.what;
  }
}

TEST_F(DisplayConfigurationXorgTest, TheGlassesSwitchWidthAndComeBackAtExit) {
  auto rig = rigOn(DummyLayout::Extended);
  const std::optional<uint32_t> glasses = rig->displays->outputIdForName("DUMMY1");
  ASSERT_TRUE(glasses.has_value());
  std::vector<bool> answers;
  auto record = [&](bool done) { answers.push_back(done); };

  rig->displays->resolutionSwitch(*glasses, 3840, 1080, record);
  auto seen = xorg_->witness("DUMMY1");
  ASSERT_TRUE(seen.has_value());
  EXPECT_EQ(std::tie(seen->x, seen->width, seen->height), std::make_tuple(1920, 3840, 1080));
  EXPECT_NE(xorg_->xrandr().find("current 5760 x 1080"), std::string::npos);
  EXPECT_EQ(rig->displays->glassesScreen()->width, 3840);

  const std::string wide = xorg_->xrandr();
  rig->displays->resolutionSwitch(*glasses, 3840, 1080, record);  // already there
  rig->displays->resolutionSwitch(*glasses, 1234, 1080, record);  // no such width
  EXPECT_EQ(xorg_->xrandr(), wide);
  EXPECT_EQ(answers, (std::vector<bool>{true, true, false}));

  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(rig->displays->restoreGlasses1920Sync(2s));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  EXPECT_EQ(xorg_->witness("DUMMY1")->width, 1920);
  EXPECT_NE(xorg_->xrandr().find("current 3840 x 1080"), std::string::npos);
}

TEST(DisplayConfigurationXorgExit, TheRestoreAnswersFalseWithinItsBoundWhenTheServerDied) {
  XorgDummyServer xorg;
  ASSERT_TRUE(xorg.running()) << xorg.error();
  ASSERT_TRUE(xorg.bringUpGlasses());
  ASSERT_TRUE(xorg.setLayout(DummyLayout::GlassesWide));
  DisplaysRig rig("", std::make_shared<display::RandrDisplayServer>(xorg.display()));
  ASSERT_EQ(rig.displays->glassesScreen()->width, 3840);

  xorg.kill();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(rig.displays->restoreGlasses1920Sync(2s));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

}  // namespace
}  // namespace vistrelle::device
