// The glasses' audio volume against a pulseaudio server of the test's own,
// changed with pactl as the desktop's volume controls would.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "device/audio/orvex_audio_volume.h"
#include "platform/dispatch/event_loop.h"
#include "platform/dispatch/runtime.h"
#include "support/finishes_within.h"
#include "support/private_pulse_server.h"

namespace vistrelle::device {
namespace {

using testing::PrivatePulseServer;
constexpr const char* kSink = PrivatePulseServer::kSinkName;

class OrvexAudioVolumePulseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pulse_.running()) << pulse_.error();
    state_.glassStatus.store(true);
    observer_ = center_.observe(
        OrvexAudioVolume::kSystemVolumeNotification, nullptr, [this](const Notification& posted) {
          {
            std::lock_guard lock(mutex_);
            posts_.push_back(static_cast<float>(posted.object.doubleOr(-1)));
          }
          posted_.notify_all();
        });
  }
  void TearDown() override {
    volume_.reset();
    runtime_.stop();
  }

  void start(const std::string& address) {
    queue_ = dispatch::makeSerialQueue("audio");
    volume_ = OrvexAudioVolume::create({.server = audio::AudioServer::system(address),
                                        .queue = queue_,
                                        .center = &center_,
                                        .state = &state_,
                                        .print = [](std::string_view) {}});
  }

  // Waits for the `count`-th post in all and returns it (-1 when none came).
  float post(size_t count) {
    std::unique_lock lock(mutex_);
    if (!posted_.wait_for(lock, std::chrono::seconds(5), [&] { return posts_.size() >= count; })) {
      ADD_FAILURE() << "post " << count << " never came";
      return -1;
    }
    return posts_[count - 1];
  }
  // Waits until the latest post satisfies `wanted`.
  bool lastPostIs(const std::function<bool(float)>& wanted) {
    std::unique_lock lock(mutex_);
    return posted_.wait_for(lock, std::chrono::seconds(5),
                            [&] { return !posts_.empty() && wanted(posts_.back()); });
  }
  size_t postCount() {
    std::lock_guard lock(mutex_);
    return posts_.size();
  }
  // Waits until the device is known (or another than `not`).
  std::optional<uint32_t> waitForDevice(std::optional<uint32_t> other = std::nullopt) {
    for (int i = 0; i < 500; ++i) {
      std::optional<uint32_t> id = volume_->deviceID();
      if (id && id != other) return id;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::nullopt;
  }
  void pactl(std::vector<std::string> args) { ASSERT_EQ(pulse_.pactl(std::move(args)), 0); }

  PrivatePulseServer pulse_;
  dispatch::Runtime runtime_{std::make_shared<dispatch::EventLoop>(), {.workers = 2}};
  NotificationCenter center_;
  MainState state_;
  Subscription observer_;
  std::mutex mutex_;
  std::condition_variable posted_;
  std::vector<float> posts_;
  dispatch::SerialQueuePtr queue_;
  std::shared_ptr<OrvexAudioVolume> volume_;
};

constexpr float kTolerance = OrvexAudioVolume::kVolumeTolerance;

TEST_F(OrvexAudioVolumePulseTest, FollowsVolumeAndMuteChanges) {
  pactl({"set-sink-volume", kSink, "50%"});
  start(pulse_.server());
  volume_->addAudioOutputVolumeListener();
  // Add: the volume kept quietly, the mute read posts it once.
  EXPECT_NEAR(post(1), 0.5f, kTolerance);

  pactl({"set-sink-volume", kSink, "60%"});
  EXPECT_NEAR(post(2), 0.6f, kTolerance);
  pactl({"set-sink-mute", kSink, "1"});
  EXPECT_EQ(post(3), 0.0f);
  pactl({"set-sink-mute", kSink, "0"});
  EXPECT_NEAR(post(4), 0.6f, kTolerance);

  // Suspending raises change events that change neither: nothing posts
  // before the next real change.
  pactl({"suspend-sink", kSink, "1"});
  pactl({"suspend-sink", kSink, "0"});
  // A 60/40 balance reads as its loudest channel: no change either.
  pactl({"set-sink-volume", kSink, "60%", "40%"});
  pactl({"set-sink-volume", kSink, "70%"});
  EXPECT_NEAR(post(5), 0.7f, kTolerance);
  pactl({"set-sink-volume", kSink, "30%", "20%"});
  EXPECT_NEAR(post(6), 0.3f, kTolerance);
  EXPECT_EQ(postCount(), 6u);
}

TEST_F(OrvexAudioVolumePulseTest, SettingZeroMutesAndAVolumeUnmutes) {
  start(pulse_.server());
  volume_->addAudioOutputVolumeListener();
  EXPECT_NEAR(post(1), 1.0f, kTolerance);

  volume_->changeAudioOutputVolumeValue(0.0f);
  std::string mute;
  for (int i = 0; i < 500 && mute.find("yes") == std::string::npos; ++i) {
    pulse_.pactl({"get-sink-mute", kSink}, &mute);
  }
  EXPECT_NE(mute.find("yes"), std::string::npos) << mute;

  volume_->changeAudioOutputVolumeValue(0.3f);
  for (int i = 0; i < 500 && mute.find("no") == std::string::npos; ++i) {
    pulse_.pactl({"get-sink-mute", kSink}, &mute);
  }
  EXPECT_NE(mute.find("no"), std::string::npos) << mute;
  std::string level;
  pulse_.pactl({"get-sink-volume", kSink}, &level);
  EXPECT_NE(level.find("30%"), std::string::npos) << level;
  // Whatever the server coalesced, the last word is the new volume, and the
  // muted device said 0 on the way.
  EXPECT_TRUE(lastPostIs([](float v) { return std::abs(v - 0.3f) <= kTolerance; }));
  std::lock_guard lock(mutex_);
  EXPECT_NE(std::find(posts_.begin(), posts_.end(), 0.0f), posts_.end());
}

TEST_F(OrvexAudioVolumePulseTest, AReloadedSinkIsFollowedAtItsNewIndex) {
  start(pulse_.server());
  volume_->addAudioOutputVolumeListener();
  post(1);
  const std::optional<uint32_t> first = waitForDevice();
  ASSERT_TRUE(first);

  pactl({"unload-module", "module-null-sink"});
  pactl(
      {"load-module", "module-null-sink", std::string("sink_name=") + kSink,
       std::string("sink_properties=device.description=") + PrivatePulseServer::kSinkDescription});
  const std::optional<uint32_t> second = waitForDevice(first);
  ASSERT_TRUE(second);
  EXPECT_NE(*second, *first);
  // Found again: the mute read posts; then its changes post.
  EXPECT_NEAR(post(2), 1.0f, kTolerance);
  pactl({"set-sink-volume", kSink, "40%"});
  EXPECT_NEAR(post(3), 0.4f, kTolerance);
}

TEST_F(OrvexAudioVolumePulseTest, AddedBeforeTheSinkExistsItIsTakenWhenItAppears) {
  pactl({"unload-module", "module-null-sink"});
  start(pulse_.server());
  volume_->addAudioOutputVolumeListener();
  // Nothing found, and the audio queue is free for the next call: the add
  // waits for the sink's arrival, not in a loop.
  auto queue = queue_;
  EXPECT_TRUE(testing::finishesWithin(std::chrono::seconds(20), [queue] { queue->sync([] {}); }));
  EXPECT_TRUE(volume_->isListening());
  EXPECT_FALSE(volume_->getAudioDevices());
  pactl(
      {"load-module", "module-null-sink", std::string("sink_name=") + kSink,
       std::string("sink_properties=device.description=") + PrivatePulseServer::kSinkDescription});
  EXPECT_NEAR(post(1), 1.0f, kTolerance);
  EXPECT_TRUE(volume_->deviceID());
}

TEST_F(OrvexAudioVolumePulseTest, WithoutAServerThereIsNoDeviceAndNothingWaits) {
  start(pulse_.missingServer());
  auto volume = volume_;
  EXPECT_TRUE(testing::finishesWithin(std::chrono::seconds(20), [volume] {
    volume->addAudioOutputVolumeListener();
    volume->changeAudioOutputVolumeValue(0.5f);
    EXPECT_FALSE(volume->getAudioDevices());
  }));
  EXPECT_FALSE(volume_->deviceID());
  EXPECT_EQ(postCount(), 0u);
}

}  // namespace
}  // namespace vistrelle::device
