#include "base/settings/launch_settings.h"

#include <gtest/gtest.h>

#include <cmath>

#include "base/settings/settings_keys.h"
#include "platform/settings/fake/in_memory_user_defaults.h"

namespace vistrelle {
namespace {

TEST(LaunchSettings, FirstLaunchWritesExactlyTheThreeDefaultsAndTheSecondNothing) {
  InMemoryUserDefaults store;
  LaunchSettings first = LaunchSettings::load(store);
  EXPECT_EQ(first.modelType, 0);
  EXPECT_EQ(first.privacyScreenLockState, 0);
  EXPECT_EQ(first.depthValue, 0.01f);
  auto stored = store.snapshot();
  ASSERT_EQ(stored.size(), 3u);
  EXPECT_EQ(stored.at(settings_keys::kScreenMode), Value(0));
  EXPECT_EQ(stored.at(settings_keys::kPrivacyScreenLockState), Value(0));
  EXPECT_EQ(store.floatForKey(settings_keys::kDepthScaleValue), 0.01f);
  EXPECT_EQ(store.writeCount(), 3u);

  store.setInteger(settings_keys::kScreenMode, 2);
  store.setFloat(settings_keys::kDepthScaleValue, 0.012f);
  const size_t writes = store.writeCount();
  LaunchSettings second = LaunchSettings::load(store);
  EXPECT_EQ(store.writeCount(), writes);
  EXPECT_EQ(second.modelType, 2);
  EXPECT_EQ(second.depthValue, 0.012f);
}

TEST(LaunchSettings, OutOfRangeValuesReadAsDefaults) {
  struct Row {
    Value depth;
    Value privacy;
    float expectedDepth;
    int expectedPrivacy;
  };
  const Row rows[] = {
      {Value(std::nan("")), Value(1), 0.01f, 1}, {Value(0.5), Value(2), 0.01f, 0},
      {Value(-0.001), Value(-1), 0.01f, 0},      {Value(0.015), Value(true), 0.015f, 1},
      {Value(0.0), Value(0), 0.0f, 0},
  };
  for (const auto& row : rows) {
    InMemoryUserDefaults store;
    store.setObject(settings_keys::kDepthScaleValue, row.depth);
    store.setObject(settings_keys::kPrivacyScreenLockState, row.privacy);
    store.setInteger(settings_keys::kScreenMode, 5);
    LaunchSettings loaded = LaunchSettings::load(store);
    EXPECT_EQ(loaded.depthValue, row.expectedDepth);
    EXPECT_EQ(loaded.privacyScreenLockState, row.expectedPrivacy);
    EXPECT_EQ(loaded.modelType, 5) << "unknown modes reach the presets' fallback row";
    EXPECT_EQ(store.writeCount(), 3u) << "loading never rewrites a stored value";
  }
}

}  // namespace
}  // namespace vistrelle
