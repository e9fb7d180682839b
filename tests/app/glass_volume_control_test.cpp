// The volume keys and the glasses' volume: the key table on a virtual clock
// and a recording command layer, the gate, the system volume, and the
// monitors' installation over a fake key source.
#include "app/glass_volume_control.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "app/media_key_monitors.h"
#include "base/settings/settings_keys.h"
#include "platform/dispatch/virtual_executor.h"
#include "platform/mediakeys/fake/fake_media_key_source.h"
#include "platform/settings/fake/in_memory_user_defaults.h"

namespace vistrelle {
namespace {

using std::chrono::milliseconds;

struct RecordingCommands : GlassVolumeCommands {
  int32_t generation = 1;
  std::vector<int32_t> sent;
  int32_t glassGeneration() const override { return generation; }
  int32_t change_display_volume(int32_t level) override {
    sent.push_back(level);
    return 0;
  }
};

constexpr uint32_t kUp = GlassVolumeControl::kSoundUp;
constexpr uint32_t kDown = GlassVolumeControl::kSoundDown;
constexpr uint32_t kMute = GlassVolumeControl::kMute;

SystemDefinedEvent key(uint32_t data1) {
  return {14, 8, data1};
}

class GlassVolumeControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state_.glassStatus.store(true);
    state_.glassVersion.set("ORVEX_FW_V1.35");
    posts_ = center_.observe(GlassVolumeControl::kVolumeChanged, nullptr,
                             [this](const Notification&) { ++postCount_; });
  }

  GlassVolumeControl control() {
    return GlassVolumeControl({commands_, &state_, &defaults_, &center_, clock_});
  }
  // Releases of `keys`, `gap` apart on the monotonic clock.
  void press(GlassVolumeControl& volume, const std::vector<uint32_t>& keys,
             milliseconds gap = milliseconds(50)) {
    for (uint32_t data1 : keys) {
      clock_->advanceBy(gap);
      volume.handleMediaKeyEvent(key(data1));
    }
  }
  std::optional<int64_t> storedLevel() const {
    return defaults_.integerForKey(settings_keys::kDisplayVolumeLevel);
  }
  std::optional<bool> storedMute() const {
    return defaults_.boolForKey(settings_keys::kDisplayVolumeIsSoundOff);
  }

  std::shared_ptr<RecordingCommands> commands_ = std::make_shared<RecordingCommands>();
  // Starts an hour into the machine's uptime, as CLOCK_MONOTONIC would.
  std::shared_ptr<dispatch::VirtualExecutor> clock_ =
      std::make_shared<dispatch::VirtualExecutor>("clock", std::chrono::hours(1));
  MainState state_;
  InMemoryUserDefaults defaults_;
  NotificationCenter center_;
  Subscription posts_;
  int postCount_ = 0;
};

TEST_F(GlassVolumeControlTest, KeyTable) {
  struct Case {
    const char* name;
    int level;
    bool soundOff;
    std::vector<uint32_t> keys;
    milliseconds gap;
    std::vector<int32_t> sent;
    int levelAfter;
    bool soundOffAfter;
  };
  const std::vector<Case> cases = {
      {"up", 3, false, {kUp}, milliseconds(50), {4}, 4, false},
      {"down", 3, false, {kDown}, milliseconds(50), {2}, 2, false},
      {"mute keeps the level", 3, false, {kMute}, milliseconds(50), {0}, 3, true},
      {"mute twice unmutes", 3, false, {kMute, kMute}, milliseconds(50), {0, 3}, 3, false},
      {"presses, repeats and other keys are ignored",
       3,
       false,
       {0x00000A00, 0x00000B01, 0x00010A00, 0x00070B01, 0x00020B00},
       milliseconds(50),
       {},
       3,
       false},
      {"two releases 10 ms apart count once",
       3,
       false,
       {kUp, kUp},
       milliseconds(10),
       {4},
       4,
       false},
      {"11 ms apart count twice", 3, false, {kUp, kUp}, milliseconds(11), {4, 5}, 5, false},
      {"down at 0 stays 0 and is sent", 0, false, {kDown}, milliseconds(50), {0}, 0, false},
      {"up at 6 stays 6 and is sent", 6, false, {kUp}, milliseconds(50), {6}, 6, false},
      {"mute then up: mute cleared, old level + 1",
       3,
       false,
       {kMute, kUp},
       milliseconds(50),
       {0, 4},
       4,
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    state_.volumeLevel.store(c.level);
    state_.isSoundOff.store(c.soundOff);
    commands_->sent.clear();
    GlassVolumeControl volume = control();
    press(volume, c.keys, c.gap);
    EXPECT_EQ(commands_->sent, c.sent);
    EXPECT_EQ(state_.volumeLevel.load(), c.levelAfter);
    EXPECT_EQ(state_.isSoundOff.load(), c.soundOffAfter);
    clock_->advanceBy(milliseconds(100));  // the next case's first key is no repeat
  }
}

TEST_F(GlassVolumeControlTest, ALevelIsSentStoredAndPostedAndMuteKeepsTheLevelKey) {
  GlassVolumeControl volume = control();
  press(volume, {kUp});
  EXPECT_EQ(storedLevel(), 4);
  EXPECT_EQ(storedMute(), false);
  EXPECT_EQ(postCount_, 1);
  press(volume, {kMute});
  EXPECT_EQ(storedLevel(), 4);
  EXPECT_EQ(storedMute(), true);
  EXPECT_EQ(postCount_, 2);
  // Direct calls clamp.
  volume.setGlassVolume(42, false);
  volume.setGlassVolume(-3, false);
  EXPECT_EQ(commands_->sent, (std::vector<int32_t>{4, 0, 6, 0}));
  EXPECT_EQ(storedLevel(), 0);
}

TEST_F(GlassVolumeControlTest, GlassesThatCannotTakeTheCommandGetNothing) {
  struct Case {
    const char* name;
    bool attached;
    int generation;
    const char* version;
  };
  const std::vector<Case> refused = {
      {"second generation", true, 2, "ORVEX_FW_V1.35"},
      {"firmware below V1.30", true, 1, "ORVEX_FW_V1.29"},
      {"no glasses", false, 1, "ORVEX_FW_V1.35"},
      {"unknown version", true, 1, "V-1.0"},
      {"unknown version inside a tag", true, 1, "ORVEX_FW_V-1.0"},
      {"another model's tag", true, 1, "ORVEX2_FW_V1.63"},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.name);
    state_.glassStatus.store(c.attached);
    commands_->generation = c.generation;
    state_.glassVersion.set(c.version);
    GlassVolumeControl volume = control();
    press(volume, {kUp, kDown, kMute});
    volume.setGlassVolume(5, false);
    EXPECT_TRUE(commands_->sent.empty());
    EXPECT_FALSE(state_.isSoundOff.load());
    EXPECT_EQ(state_.volumeLevel.load(), 3);
  }
  EXPECT_EQ(defaults_.writeCount(), 0u);
  EXPECT_EQ(postCount_, 0);

  // The boundary and a longer digit run pass.
  state_.glassStatus.store(true);
  commands_->generation = 1;
  for (const char* version : {"ORVEX_FW_V1.30", "ORVEX_FW_V1.100"}) {
    state_.glassVersion.set(version);
    EXPECT_TRUE(control().acceptsVolume()) << version;
  }
}

TEST_F(GlassVolumeControlTest, TheLocalMonitorHandsTheEventBack) {
  GlassVolumeControl volume = control();
  clock_->advanceBy(milliseconds(50));
  EXPECT_EQ(volume.handleMediaKeyLocalEvent(key(kUp)), key(kUp));
  EXPECT_EQ(commands_->sent, (std::vector<int32_t>{4}));
}

TEST_F(GlassVolumeControlTest, TheSystemVolumeIsTakenOnlyAsAFloat) {
  GlassVolumeControl volume = control();
  struct Case {
    Value object;
    float expected;
  };
  for (const Case& c : std::vector<Case>{{Value(0.4f), 0.4f},
                                         {Value(1), 0.0f},
                                         {Value(), 0.0f},
                                         {Value("0.5"), 0.0f},
                                         {Value(0.0f), 0.0f}}) {
    state_.volumeValue_V2.store(0.9f);
    volume.onSystemVolume({"SystemVolumeListener_Notification_Name", c.object, {}});
    EXPECT_FLOAT_EQ(state_.volumeValue_V2.load(), c.expected);
  }
}

TEST_F(GlassVolumeControlTest, MonitorsInstallOnceAndDeliverOnTheMainQueue) {
  GlassVolumeControl volume = control();
  auto source = std::make_shared<mediakeys::FakeMediaKeySource>();
  auto main = std::make_shared<dispatch::VirtualExecutor>("main");
  std::vector<std::string> logged;
  source->failStarts("no X server");
  MediaKeyMonitors monitors(
      volume, {source, main, [&](std::string_view line) { logged.emplace_back(line); }});
  monitors.installMediaKeyMonitors();
  EXPECT_FALSE(monitors.installed());
  EXPECT_EQ(logged, (std::vector<std::string>{"media keys unavailable: no X server"}));

  source->failStarts("");
  monitors.installMediaKeyMonitors();
  monitors.installMediaKeyMonitors();
  EXPECT_TRUE(monitors.installed());
  EXPECT_EQ(source->startCount(), 1);

  clock_->advanceBy(milliseconds(50));
  ASSERT_TRUE(source->press({mediakeys::MediaKey::SoundUp, /*down=*/false, /*repeat=*/false}));
  // Handed over, not handled on the source's thread.
  EXPECT_TRUE(commands_->sent.empty());
  main->runUntilIdle();
  EXPECT_EQ(commands_->sent, (std::vector<int32_t>{4}));
}

TEST(SystemDefinedEvent, CarriesTheKeyStateAndRepeatInData1) {
  using mediakeys::MediaKey;
  EXPECT_EQ(SystemDefinedEvent::fromMediaKey({MediaKey::SoundUp, false, false}).data1, 0x00000B00u);
  EXPECT_EQ(SystemDefinedEvent::fromMediaKey({MediaKey::SoundDown, false, false}).data1,
            0x00010B00u);
  EXPECT_EQ(SystemDefinedEvent::fromMediaKey({MediaKey::Mute, false, false}).data1, 0x00070B00u);
  EXPECT_EQ(SystemDefinedEvent::fromMediaKey({MediaKey::Mute, true, true}).data1, 0x00070A01u);
}

}  // namespace
}  // namespace vistrelle
