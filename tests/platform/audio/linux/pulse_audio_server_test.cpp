// The PulseAudio back-end against a private pulseaudio server, driven by
// pactl as another program would.
#include "platform/audio/linux/pulse_audio_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/dispatch/event_loop.h"
#include "platform/dispatch/runtime.h"
#include "support/finishes_within.h"
#include "support/private_pulse_server.h"

namespace vistrelle::audio {
namespace {

using testing::PrivatePulseServer;

// The events the server's thread delivers, for the test to wait on.
class EventLog {
 public:
  AudioServer::EventHandler handler() {
    return [this](const SinkEvent& event) {
      {
        std::lock_guard lock(mutex_);
        events_.push_back(event);
      }
      changed_.notify_all();
    };
  }
  bool waitFor(const std::function<bool(const SinkEvent&)>& wanted,
               std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] {
      for (const SinkEvent& event : events_) {
        if (wanted(event)) return true;
      }
      return false;
    });
  }
  void clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<SinkEvent> events_;
};

std::shared_ptr<PulseAudioServer> connectTo(const std::string& address, EventLog* log = nullptr) {
  auto server = PulseAudioServer::create({.server = address});
  if (log) server->setEventHandler(log->handler());
  return server;
}

uint32_t glassesSinkIndex(AudioServer& server) {
  for (const AudioSink& sink : server.sinks()) {
    if (sink.name == PrivatePulseServer::kSinkName) return sink.index;
  }
  ADD_FAILURE() << "no " << PrivatePulseServer::kSinkName << " sink";
  return 0;
}

TEST(PulseAudioServer, ReadsAndScalesTheSinksVolumeKeepingItsBalance) {
  PrivatePulseServer pulse;
  ASSERT_TRUE(pulse.running()) << pulse.error();
  auto server = connectTo(pulse.server());
  ASSERT_TRUE(server->connect());

  std::vector<AudioSink> sinks = server->sinks();
  ASSERT_EQ(sinks.size(), 1u);
  EXPECT_EQ(sinks[0].description, PrivatePulseServer::kSinkDescription);
  EXPECT_FLOAT_EQ(sinks[0].volume, 1.0f);
  EXPECT_FALSE(sinks[0].muted);
  const uint32_t index = sinks[0].index;

  // A 60/40 balance reads as its loudest channel.
  ASSERT_EQ(pulse.pactl({"set-sink-volume", PrivatePulseServer::kSinkName, "60%", "40%"}), 0);
  EXPECT_NEAR(server->sink(index)->volume, 0.6f, 1.0f / 65536);

  // Scaled to 0.3, the quieter channel follows: 30% and 20%.
  ASSERT_TRUE(server->setVolume(index, 0.3f));
  std::string volumes;
  ASSERT_EQ(pulse.pactl({"get-sink-volume", PrivatePulseServer::kSinkName}, &volumes), 0);
  EXPECT_NE(volumes.find("30%"), std::string::npos) << volumes;
  EXPECT_NE(volumes.find("20%"), std::string::npos) << volumes;

  ASSERT_TRUE(server->setMute(index, true));
  EXPECT_TRUE(server->sink(index)->muted);
  // Past either end: clamped; not a number: refused.
  ASSERT_TRUE(server->setVolume(index, 7.0f));
  EXPECT_FLOAT_EQ(server->sink(index)->volume, 1.0f);
  EXPECT_FALSE(server->setVolume(index, std::nanf("")));
  // A sink that is not there.
  EXPECT_FALSE(server->sink(index + 100));
  EXPECT_FALSE(server->setMute(index + 100, false));
}

TEST(PulseAudioServer, ReportsSinksComingChangingAndGoing) {
  PrivatePulseServer pulse;
  ASSERT_TRUE(pulse.running()) << pulse.error();
  EventLog log;
  auto server = connectTo(pulse.server(), &log);
  ASSERT_TRUE(server->connect());
  const uint32_t index = glassesSinkIndex(*server);

  ASSERT_EQ(pulse.pactl({"set-sink-mute", PrivatePulseServer::kSinkName, "1"}), 0);
  EXPECT_TRUE(log.waitFor([&](const SinkEvent& e) {
    return e == SinkEvent{SinkEventKind::Changed, index};
  }));

  ASSERT_EQ(pulse.pactl({"unload-module", "module-null-sink"}), 0);
  EXPECT_TRUE(log.waitFor([&](const SinkEvent& e) {
    return e == SinkEvent{SinkEventKind::Removed, index};
  }));
  std::string module;
  ASSERT_EQ(pulse.pactl({"load-module", "module-null-sink",
                         std::string("sink_name=") + PrivatePulseServer::kSinkName,
                         std::string("sink_properties=device.description=") +
                             PrivatePulseServer::kSinkDescription},
                        &module),
            0);
  const uint32_t reloaded = glassesSinkIndex(*server);
  EXPECT_NE(reloaded, index);
  EXPECT_TRUE(log.waitFor([&](const SinkEvent& e) {
    return e == SinkEvent{SinkEventKind::Added, reloaded};
  }));
}

TEST(PulseAudioServer, WithoutAServerThereIsNothingAndNothingWaits) {
  PrivatePulseServer pulse;
  ASSERT_TRUE(pulse.running()) << pulse.error();
  // A minute's time-out: a call that waited for it would not finish in time.
  auto server = PulseAudioServer::create(
      {.server = pulse.missingServer(), .timeout = std::chrono::minutes(1)});
  EXPECT_TRUE(testing::finishesWithin(std::chrono::seconds(20), [server] {
    EXPECT_FALSE(server->connect());
    EXPECT_FALSE(server->connected());
    EXPECT_TRUE(server->sinks().empty());
    EXPECT_FALSE(server->setVolume(0, 0.5f));
  }));
}

TEST(PulseAudioServer, ALostServerIsReportedAndCallsFailAfterIt) {
  PrivatePulseServer pulse;
  ASSERT_TRUE(pulse.running()) << pulse.error();
  EventLog log;
  auto server = connectTo(pulse.server(), &log);
  ASSERT_TRUE(server->connect());
  pulse.kill();
  EXPECT_TRUE(log.waitFor([](const SinkEvent& e) { return e.kind == SinkEventKind::ServerLost; }));
  EXPECT_FALSE(server->connected());
  EXPECT_TRUE(server->sinks().empty());
  EXPECT_FALSE(server->connect());
}

TEST(PulseAudioServer, TheRuntimesStopsEndTheConnection) {
  PrivatePulseServer pulse;
  ASSERT_TRUE(pulse.running()) << pulse.error();
  dispatch::Runtime runtime(std::make_shared<dispatch::EventLoop>(), {.workers = 2});
  auto server = connectTo(pulse.server());
  ASSERT_TRUE(server->connect());
  runtime.stop();
  EXPECT_FALSE(server->connected());
  EXPECT_TRUE(server->sinks().empty());
}

}  // namespace
}  // namespace vistrelle::audio
