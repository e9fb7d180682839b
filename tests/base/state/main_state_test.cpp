#include "base/state/main_state.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace vistrelle {
namespace {

TEST(MainState, StartsWithTheLaunchValuesAndResetRestoresThem) {
  MainState state;
  state.glassStatus = true;
  state.volumeLevel = 6;
  state.glassVersion.set("ORVEX2_FW_V1.9");
  state.depthValue = 0.015f;
  state.reset();
  EXPECT_FALSE(state.glassStatus);
  EXPECT_TRUE(state.isOpen3D);
  EXPECT_EQ(state.volumeLevel, 3);
  EXPECT_EQ(state.glassDisplayStatus, 1);
  EXPECT_EQ(state.glassVersion.get(), "V-1.0");
  EXPECT_EQ(state.checkVolumeVersion_V1.get(), "ORVEX_FW_V1.30");
  EXPECT_EQ(state.dfuUpdateVersion_V2.get(), "ORVEX2_FW_V1.63");
  EXPECT_EQ(state.dfuUpdateVersion_V2Pro.get(), "ORVEX2PRO_FW_V1.49");
  EXPECT_FLOAT_EQ(state.depthValue, 0.01f);
  EXPECT_FLOAT_EQ(state.depthMaxValue, 0.015f);
  EXPECT_TRUE(state.isOpenImmersion);
  EXPECT_FALSE(state.isAI3DWindowOnGlasses);
  EXPECT_EQ(&MainState::shared(), &MainState::shared());
}

// Texts are replaced whole while other threads read them: a reader sees one
// of the written values, never a torn or freed one (ThreadSanitizer and
// AddressSanitizer watch this run).
TEST(MainState, TextsAreReadAsWholeSnapshotsWhileAnotherThreadWritesThem) {
  MainState state;
  const std::vector<std::string> versions = {"ORVEX_FW_V1.30-a-long-enough-text-to-allocate",
                                             "ORVEX2_FW_V1.63", "V-1.0"};
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; i < 20000; ++i) state.glassVersion.set(versions[i % versions.size()]);
    done = true;
  });
  size_t reads = 0;
  while (!done || reads == 0) {
    std::string seen = state.glassVersion.get();
    ASSERT_TRUE(seen == versions[0] || seen == versions[1] || seen == versions[2]) << seen;
    ++reads;
  }
  writer.join();
}

}  // namespace
}  // namespace vistrelle
