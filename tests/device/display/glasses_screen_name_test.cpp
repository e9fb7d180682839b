#include "device/display/glasses_screen_name.h"

#include <gtest/gtest.h>

namespace vistrelle::device {
namespace {

TEST(GlassesScreenName, TheBrandWordWithoutMonitor) {
  const std::pair<const char*, bool> cases[] = {
      {"ORVEX Glass", true},
      {"orvex", true},
      {"My OrVeX 2", true},
      {"orvex monitor", false},
      {"Orvex Glass Monitor", false},
      {"ORVEX MONITOR", false},
      {"DELL U2720Q", false},
      {"Monitor", false},
      {"orve x", false},
      {"", false},
  };
  for (const auto& [name, glasses] : cases) EXPECT_EQ(isGlassesScreenName(name), glasses) << name;
}

}  // namespace
}  // namespace vistrelle::device
