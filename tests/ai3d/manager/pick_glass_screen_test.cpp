// Which screen the search takes for the glasses.
#include <gtest/gtest.h>

#include "ai3d/manager/glass_screen_finder.h"
#include "manager_rig.h"

namespace vistrelle::ai3d {
namespace {

GlassScreen screen(std::string name, std::string output, int width) {
  return {0, std::move(name), std::move(output), 0, 0, width, 1080};
}

TEST(PickGlassScreen, NamedAsTheGlassesAndExactly3840Wide_TheLastWins) {
  struct Case {
    const char* what;
    std::vector<GlassScreen> screens;
    const char* taken;  // output, or nullptr
  };
  const Case cases[] = {
      {"glasses at 3840",
       {screen("Built-in", "eDP-1", 1920), screen("ORVEX Glass", "DP-1", 3840)},
       "DP-1"},
      {"glasses still at 1920", {screen("ORVEX Glass", "DP-1", 1920)}, nullptr},
      {"the glasses' second monitor", {screen("orvex monitor", "DP-2", 3840)}, nullptr},
      {"a name with both words", {screen("Orvex Glass Monitor", "DP-2", 3840)}, nullptr},
      {"another 3840 screen", {screen("DELL U4021QW", "DP-3", 3840)}, nullptr},
      {"two glasses",
       {screen("ORVEX Glass", "DP-1", 3840), screen("orvex glass", "DP-4", 3840)},
       "DP-4"},
      {"the last one too narrow",
       {screen("ORVEX Glass", "DP-1", 3840), screen("ORVEX Glass", "DP-4", 3839)},
       "DP-1"},
      {"no screens", {}, nullptr},
  };
  testing::FakeScreens finder;
  for (const Case& c : cases) {
    const std::optional<GlassScreen> taken = pickGlassScreen(c.screens, finder);
    if (c.taken == nullptr) {
      EXPECT_FALSE(taken.has_value()) << c.what;
    } else {
      ASSERT_TRUE(taken.has_value()) << c.what;
      EXPECT_EQ(taken->outputName, c.taken) << c.what;
    }
  }
}

}  // namespace
}  // namespace vistrelle::ai3d
