// The glasses' audio volume on a fake sound server: which sink is the
// glasses', when it is looked up, and what a listener removed or added
// twice does.  The audio queue runs on virtual time.
#include "device/audio/orvex_audio_volume.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/audio/fake/fake_audio_server.h"
#include "platform/dispatch/virtual_executor.h"

namespace vistrelle::device {
namespace {

class OrvexAudioVolumeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state_.glassStatus.store(true);
    observer_ = center_.observe(OrvexAudioVolume::kSystemVolumeNotification, nullptr,
                                [this](const Notification& posted) {
                                  posts_.push_back(static_cast<float>(posted.object.doubleOr(-1)));
                                });
    volume_ = OrvexAudioVolume::create(
        {.server = server_,
         .queue = queue_,
         .center = &center_,
         .state = &state_,
         .print = [this](std::string_view line) { lines_.emplace_back(line); }});
  }

  std::shared_ptr<audio::FakeAudioServer> server_ = std::make_shared<audio::FakeAudioServer>();
  std::shared_ptr<dispatch::VirtualExecutor> queue_ = std::make_shared<dispatch::VirtualExecutor>();
  NotificationCenter center_;
  MainState state_;
  Subscription observer_;
  std::vector<float> posts_;
  std::vector<std::string> lines_;
  std::shared_ptr<OrvexAudioVolume> volume_;
};

TEST_F(OrvexAudioVolumeTest, TheLastSinkNamingOrvexIsTheDevice) {
  server_->addSink("Built-in Audio", 0.9f);
  server_->addSink("ORVEX Glass Audio", 0.4f);
  const uint32_t last = server_->addSink("orvex-audio", 0.7f);
  volume_->addAudioOutputVolumeListener();
  queue_->runUntilIdle();
  EXPECT_EQ(volume_->deviceID(), last);
  EXPECT_EQ(lines_, (std::vector<std::string>{"--name = Built-in Audio--",
                                              "--name = ORVEX Glass Audio--", "streamCount = 1",
                                              "--name = orvex-audio--", "streamCount = 1"}));
  // The volume is kept quietly; the mute read posts it.
  EXPECT_EQ(posts_, (std::vector<float>{0.7f}));
}

TEST_F(OrvexAudioVolumeTest, ASinkAppearingIsTakenOnlyWhileTheGlassesAreAttached) {
  volume_->addAudioOutputVolumeListener();
  queue_->runUntilIdle();
  EXPECT_FALSE(volume_->deviceID());

  state_.glassStatus.store(false);
  server_->addSink("ORVEX-Audio", 0.5f);
  queue_->runUntilIdle();
  EXPECT_FALSE(volume_->deviceID());
  EXPECT_TRUE(posts_.empty());

  state_.glassStatus.store(true);
  const uint32_t index = server_->addSink("ORVEX-Audio", 0.5f);
  queue_->runUntilIdle();
  EXPECT_EQ(volume_->deviceID(), index);
  EXPECT_EQ(posts_, (std::vector<float>{0.5f}));
}

TEST_F(OrvexAudioVolumeTest, AddedTwiceAChangePostsOnceAndRemovedNothingPosts) {
  const uint32_t index = server_->addSink("ORVEX-Audio", 0.5f);
  volume_->addAudioOutputVolumeListener();
  volume_->addAudioOutputVolumeListener();
  queue_->runUntilIdle();
  posts_.clear();
  server_->change(index, 0.25f, false);
  queue_->runUntilIdle();
  EXPECT_EQ(posts_, (std::vector<float>{0.25f}));

  volume_->removeAudioOutputVolumeListener();
  queue_->runUntilIdle();
  EXPECT_FALSE(volume_->deviceID());
  server_->change(index, 0.75f, true);
  server_->removeSink(index);
  server_->addSink("ORVEX-Audio", 0.5f);
  queue_->runUntilIdle();
  EXPECT_EQ(posts_, (std::vector<float>{0.25f}));
}

TEST_F(OrvexAudioVolumeTest, ALostServerForgetsTheDeviceAndTheNextAddFindsItAgain) {
  const uint32_t index = server_->addSink("ORVEX-Audio", 0.5f);
  volume_->addAudioOutputVolumeListener();
  queue_->runUntilIdle();
  ASSERT_EQ(volume_->deviceID(), index);
  server_->dropConnection();
  queue_->runUntilIdle();
  EXPECT_FALSE(volume_->deviceID());

  volume_->addAudioOutputVolumeListener();
  queue_->runUntilIdle();
  EXPECT_EQ(volume_->deviceID(), index);
  EXPECT_EQ(server_->connectCount(), 2);
}

TEST_F(OrvexAudioVolumeTest, SettingTheVolumeMutesAtZeroAndUnmutesAboveIt) {
  const uint32_t index = server_->addSink("ORVEX-Audio", 0.5f);
  const std::string sink = std::to_string(index);
  // Not listening: the device is found for the call.
  volume_->changeAudioOutputVolumeValue(0.0f);
  queue_->runUntilIdle();
  volume_->changeAudioOutputVolumeValue(0.3f);
  queue_->runUntilIdle();
  // Not muted: no unmute.
  volume_->changeAudioOutputVolumeValue(0.4f);
  queue_->runUntilIdle();
  EXPECT_EQ(server_->sets(),
            (std::vector<std::string>{"volume " + sink + " 0.000000", "mute " + sink + " 1",
                                      "volume " + sink + " 0.300000", "mute " + sink + " 0",
                                      "volume " + sink + " 0.400000"}));
}

}  // namespace
}  // namespace vistrelle::device
