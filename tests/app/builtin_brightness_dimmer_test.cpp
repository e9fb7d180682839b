// The privacy dimming on virtual time: the fade's 251 levels, coalesced
// writes, the gate, the restore with its bounded retries, the exit restore
// and the next start's repair.
#include "app/builtin_brightness_dimmer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <vector>

#include "base/settings/settings_keys.h"
#include "platform/dispatch/virtual_executor.h"
#include "platform/settings/fake/in_memory_user_defaults.h"

namespace vistrelle {
namespace {

using std::chrono::milliseconds;

// A panel that records what it is set to.  After `refusals` more sets it
// takes the level; until then it stays dark (reads 0).
struct FakePanel : BrightnessPort {
  std::mutex mutex;
  float level = 0.5f;
  std::vector<float> sets;
  int refusals = 0;

  float builtinDisplayBrightness() override {
    std::lock_guard lock(mutex);
    return level;
  }
  void setBuiltinDisplayBrightness(float value) override {
    std::lock_guard lock(mutex);
    sets.push_back(value);
    if (refusals > 0) {
      --refusals;
      level = 0;
      return;
    }
    level = value;
  }
  std::vector<float> taken() {
    std::lock_guard lock(mutex);
    return sets;
  }
};

class BuiltinBrightnessDimmerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state_.builtinDisplayID.store(0x42);
    state_.isAI3DWindowOnGlasses.store(true);
  }

  // By default the worker is the main queue, so every level reaches the
  // panel as it is asked for.
  std::unique_ptr<BuiltinBrightnessDimmer> dimmer(dispatch::ExecutorPtr worker = nullptr) {
    return std::make_unique<BuiltinBrightnessDimmer>(BuiltinBrightnessDimmer::Options{
        .port = panel_,
        .timer = &timer_,
        .mainQueue = main_,
        .worker = worker ? worker : main_,
        .state = &state_,
        .defaults = &defaults_,
        .pause = [this](milliseconds pause) { pauses_.push_back(pause); },
        .log = [this](std::string_view line) { logged_.emplace_back(line); }});
  }
  std::optional<float> saved() const {
    return defaults_.floatForKey(settings_keys::kSavedBuiltinBrightness);
  }

  std::shared_ptr<dispatch::VirtualExecutor> main_ = std::make_shared<dispatch::VirtualExecutor>();
  GCXTimer timer_{main_, main_};
  std::shared_ptr<FakePanel> panel_ = std::make_shared<FakePanel>();
  MainState state_;
  InMemoryUserDefaults defaults_;
  std::vector<milliseconds> pauses_;
  std::vector<std::string> logged_;
};

TEST_F(BuiltinBrightnessDimmerTest, FadesIn251LevelsToExactlyZeroAndEndsItsTask) {
  auto dim = dimmer();
  dim->closeBuiltinBrightness();
  main_->advanceBy(milliseconds(400));
  const std::vector<float> sets = panel_->taken();
  ASSERT_EQ(sets.size(), 251u);
  for (size_t i = 0; i < 250; ++i) EXPECT_NEAR(sets[i], 0.5f - 0.002f * i, 1e-6) << i;
  EXPECT_NEAR(sets[249], 0.002f, 1e-6);
  EXPECT_EQ(sets[250], 0.0f);
  EXPECT_EQ(state_.defaultBrightness.load(), 0.5f);
  EXPECT_EQ(saved(), 0.5f);
  EXPECT_FALSE(timer_.isLive(state_.timerInv.get()));
  EXPECT_EQ(timer_.liveCount(), 0u);
}

TEST_F(BuiltinBrightnessDimmerTest, SlowWritesCoalesceAndEndAtTheLastLevel) {
  auto worker = std::make_shared<dispatch::VirtualExecutor>("worker");
  auto dim = dimmer(worker);
  dim->closeBuiltinBrightness();
  main_->advanceBy(milliseconds(120));
  worker->runUntilIdle();  // one write, whatever was asked last
  main_->advanceBy(milliseconds(200));
  worker->runUntilIdle();
  const std::vector<float> sets = panel_->taken();
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_NEAR(sets[0], 0.5f - 0.002f * 120, 1e-6);
  EXPECT_EQ(sets[1], 0.0f);
}

TEST_F(BuiltinBrightnessDimmerTest, DimmingTwiceKeepsTheSavedBrightness) {
  auto dim = dimmer();
  dim->closeBuiltinBrightness();
  main_->advanceBy(milliseconds(400));
  dim->closeBuiltinBrightness();
  main_->advanceBy(milliseconds(400));
  EXPECT_EQ(state_.defaultBrightness.load(), 0.5f);
  EXPECT_EQ(panel_->taken().size(), 251u);
}

TEST_F(BuiltinBrightnessDimmerTest,
       NothingDimsWithoutABuiltInPanelOrBeforeTheGlassesShowThePicture) {
  auto dim = dimmer();
  state_.isAI3DWindowOnGlasses.store(false);
  dim->closeBuiltinBrightness();
  main_->advanceBy(milliseconds(400));
  EXPECT_TRUE(panel_->taken().empty());
  EXPECT_EQ(state_.defaultBrightness.load(), 0.0f);

  state_.isAI3DWindowOnGlasses.store(true);
  state_.builtinDisplayID.store(0);
  dim->closeBuiltinBrightness();
  dim->restoreBuiltinBrightness();
  main_->advanceBy(milliseconds(400));
  EXPECT_TRUE(panel_->taken().empty());
  EXPECT_EQ(state_.defaultBrightness.load(), 0.0f);
  EXPECT_FALSE(saved());
}

TEST_F(BuiltinBrightnessDimmerTest, RestoreDuringTheFadeEndsItAndClearsTheSavedValue) {
  auto dim = dimmer();
  dim->closeBuiltinBrightness();
  main_->advanceBy(milliseconds(100));
  dim->restoreBuiltinBrightness();
  main_->advanceBy(milliseconds(400));
  const std::vector<float> sets = panel_->taken();
  EXPECT_EQ(sets.back(), 0.5f);
  EXPECT_LT(sets.size(), 120u);
  EXPECT_EQ(state_.defaultBrightness.load(), 0.0f);
  EXPECT_FALSE(saved());
}

TEST_F(BuiltinBrightnessDimmerTest, AZeroReadBackRetriesEvery150MsUpToTheBound) {
  auto dim = dimmer();
  dim->closeBuiltinBrightness();
  main_->advanceBy(milliseconds(400));
  const size_t faded = panel_->taken().size();

  // The panel takes the level at the fourth set.
  panel_->refusals = 3;
  dim->restoreBuiltinBrightness();
  main_->runUntilIdle();
  EXPECT_EQ(panel_->taken().size(), faded + 1);
  main_->advanceBy(milliseconds(449));
  EXPECT_EQ(panel_->taken().size(), faded + 3);
  main_->advanceBy(milliseconds(1));
  EXPECT_EQ(panel_->taken().size(), faded + 4);
  EXPECT_EQ(state_.defaultBrightness.load(), 0.0f);

  // A panel that never takes it: the first try and 20 more, then it is left.
  state_.defaultBrightness.store(0.5f);
  panel_->refusals = 1000;
  dim->restoreBuiltinBrightness();
  main_->advanceBy(std::chrono::seconds(60));
  EXPECT_EQ(panel_->taken().size(), faded + 4 + 21);
  EXPECT_EQ(state_.defaultBrightness.load(), 0.5f);
  EXPECT_EQ(logged_.size(), 1u);
  EXPECT_EQ(main_->pendingCount(), 0u);
}

TEST_F(BuiltinBrightnessDimmerTest, TheExitRestoreWorksOnTheCallingThreadWithinItsLimit) {
  auto dim = dimmer();
  dim->closeBuiltinBrightness();
  main_->advanceBy(milliseconds(100));
  panel_->refusals = 2;
  EXPECT_TRUE(dim->restoreBuiltinBrightnessSync(milliseconds(1000)));
  EXPECT_EQ(panel_->taken().back(), 0.5f);
  EXPECT_EQ(pauses_, (std::vector<milliseconds>(2, milliseconds(150))));
  EXPECT_EQ(state_.defaultBrightness.load(), 0.0f);
  EXPECT_FALSE(saved());
  // The fade is over: nothing more reaches the panel.
  const size_t sets = panel_->taken().size();
  main_->advanceBy(milliseconds(400));
  EXPECT_EQ(panel_->taken().size(), sets);

  // A panel that stays dark: false once the limit is spent, the value kept
  // for the next start.
  state_.defaultBrightness.store(0.5f);
  defaults_.setFloat(settings_keys::kSavedBuiltinBrightness, 0.5f);
  panel_->refusals = 1000;
  pauses_.clear();
  EXPECT_FALSE(dim->restoreBuiltinBrightnessSync(milliseconds(1000)));
  EXPECT_EQ(pauses_.size(), 6u);
  EXPECT_EQ(saved(), 0.5f);
  // Nothing saved: nothing to do.
  state_.defaultBrightness.store(0);
  EXPECT_TRUE(dim->restoreBuiltinBrightnessSync(milliseconds(1000)));
}

TEST_F(BuiltinBrightnessDimmerTest, TheNextStartRepairsAPanelLeftDark) {
  struct Case {
    const char* name;
    float panel;
    uint32_t builtin;
    std::vector<float> sets;
  };
  for (const Case& c : std::vector<Case>{{"dark panel", 0.0f, 0x42, {0.5f}},
                                         {"lit panel", 0.3f, 0x42, {}},
                                         {"no built-in panel", 0.0f, 0, {}}}) {
    SCOPED_TRACE(c.name);
    panel_->level = c.panel;
    panel_->sets.clear();
    state_.builtinDisplayID.store(c.builtin);
    defaults_.setFloat(settings_keys::kSavedBuiltinBrightness, 0.5f);
    auto dim = dimmer();
    dim->restoreSavedBrightnessAtLaunch();
    main_->runUntilIdle();
    EXPECT_EQ(panel_->taken(), c.sets);
    EXPECT_FALSE(saved());
  }
}

TEST_F(BuiltinBrightnessDimmerTest, CallsFromOtherThreadsRunOnTheMainQueue) {
  auto dim = dimmer();
  std::thread caller([&] { dim->closeBuiltinBrightness(); });
  caller.join();
  EXPECT_EQ(state_.defaultBrightness.load(), 0.0f);
  main_->advanceBy(milliseconds(400));
  EXPECT_EQ(state_.defaultBrightness.load(), 0.5f);
  EXPECT_EQ(panel_->taken().size(), 251u);
}

}  // namespace
}  // namespace vistrelle
