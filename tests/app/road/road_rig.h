#pragma once

// The connection road over the real command layer with simulated glasses on
// the simulated bus (its HID thread is real), the display configuration over
// a fake layout, and everything else recorded.  Main and global queue are one
// virtual-time executor driven by the test; the glasses answer when the test
// runs their clock.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/connection_road.h"
#include "app/glass_volume_control.h"
#include "app/qx_server_volume_commands.h"
#include "device/display/displays_rig.h"
#include "device/hid/hid_road_fixture.h"
#include "device/hid/orvex_qx_server.h"
#include "device/protocol/glass_report.h"
#include "device/protocol/wear_thresholds.h"
#include "platform/message/fake/fake_transient_message.h"
#include "platform/settings/fake/in_memory_user_defaults.h"
#include "support/app_delegate_rig.h"
#include "support/recording_alerts.h"

namespace vistrelle::testing {

// Built-in panel DUMMY0 (0x40) and the glasses DUMMY1 (0x41) at its right.
inline constexpr const char* kExtendedLayout = R"({"primary": "DUMMY0", "outputs": [
  {"name": "DUMMY0", "connector": "Panel", "modes": ["1920x1080"], "mode": "1920x1080"},
  {"name": "DUMMY1", "monitor": "ORVEX Glass", "modes": ["1920x1080", "3840x1080"],
   "mode": "1920x1080", "at": [1920, 0]}]})";
// The glasses showing what the panel shows.
inline constexpr const char* kMirroredLayout = R"({"primary": "DUMMY0", "outputs": [
  {"name": "DUMMY0", "connector": "Panel", "modes": ["1920x1080"], "mode": "1920x1080"},
  {"name": "DUMMY1", "monitor": "ORVEX Glass", "modes": ["1920x1080", "3840x1080"],
   "mode": "1920x1080", "at": [0, 0]}]})";
// A desktop whose only screen is the glasses.
inline constexpr const char* kOnlyGlassesLayout = R"({"primary": "HDMI-1", "outputs": [
  {"name": "HDMI-1", "monitor": "ORVEX Glass", "modes": ["1920x1080"], "mode": "1920x1080"},
  {"name": "HDMI-2", "connected": false}]})";
inline constexpr uint32_t kPanelId = 0x40;
inline constexpr uint32_t kGlassesId = 0x41;

class RoadRig : public DisplaysRig {
 public:
  explicit RoadRig(std::string_view layout = kExtendedLayout) : DisplaysRig(layout) {
    state.isCPUARM.store(true);
    message::TransientMessage::install(messages);

    device::OrvexQXServer::Options options;
    options.backend = sim.bus;
    options.center = &center;
    options.parser = &parser;
    options.state = &state;
    options.defaults = &defaults;
    options.mainQueue = mainQueue;
    options.print = [](std::string_view) {};
    options.trace = [](std::string_view) {};
    options.log = [](std::string_view) {};
    options.showMessage = [](const std::string&) {};
    qx = std::make_unique<device::OrvexQXServer>(options);

    GlassVolumeControl::Options volumeOptions;
    volumeOptions.commands = std::make_shared<QXServerVolumeCommands>(*qx);
    volumeOptions.state = &state;
    volumeOptions.defaults = &defaults;
    volumeOptions.center = &center;
    volume = std::make_unique<GlassVolumeControl>(volumeOptions);

    ConnectionRoad::Environment env;
    env.glasses = qx.get();
    env.displays = displays.get();
    env.window = [this]() -> AppWindow* { return &window; };
    env.state = &state;
    env.defaults = &defaults;
    env.center = &center;
    env.timer = &timer;
    env.mainQueue = mainQueue;
    env.globalQueue = mainQueue;
    env.isScreenLocked = [this] { return locked.load(); };
    env.checkAppUpdate = [this](std::function<void(bool)> completion) {
      events.push_back("update check");
      if (holdUpdateCheck) {
        heldUpdateCheck = std::move(completion);
      } else {
        completion(true);
      }
    };
    env.showConnectTips = [this] { events.push_back("tips"); };
    env.resetUpdateView = [this] { events.push_back("reset update view"); };
    env.openAI3D = [this] { events.push_back("open 3D"); };
    env.close3DWindow = [this] { events.push_back("close 3D"); };
    env.addAudioOutputVolumeListener = [this] { events.push_back("add audio listener"); };
    env.removeAudioOutputVolumeListener = [this] { events.push_back("remove audio listener"); };
    env.restoreBuiltinBrightness = [this] { events.push_back("restore brightness"); };
    env.setGlassVolume = [this](int level, bool mute) { volume->setGlassVolume(level, mute); };
    env.setImuId = [this](int64_t id) { events.push_back("imu id " + std::to_string(id)); };
    env.alerts = &alerts;
    env.terminate = [this] { events.push_back("terminate"); };
    env.log = [this](std::string_view line) { logLines.emplace_back(line); };
    env.trace = [](std::string_view) {};
    env.localize = [](std::string_view key) { return std::string(key); };
    road = ConnectionRoad::create(std::move(env));

    statusObserver =
        center.observe(ConnectionRoad::kStatusChange, mainQueue, [this](const Notification& note) {
          ++statusDelivered;
          road->onGlassDisplayStatusChange(note);
        });
    versionObserver = center.observe(device::GlassReport::kVersionNotification, mainQueue,
                                     [this](const Notification& note) {
                                       ++versionsDelivered;
                                       road->onGlassVersion(note);
                                     });
    qx->shareManager();
  }

  ~RoadRig() {
    qx->stop();
    mainQueue->runUntilIdle();
    message::TransientMessage::install(nullptr);
  }

  // Runs the main queue until `ready` holds; the HID thread delivers on its
  // own time, so this waits for it, bounded.
  template <typename Ready>
  bool pumpUntil(Ready ready) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (true) {
      mainQueue->runUntilIdle();
      if (ready()) return true;
      if (std::chrono::steady_clock::now() > giveUp) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  std::unique_ptr<sim::SimGlassesHidDevice> glasses(sim::SimGlassesModel model) {
    return sim.glasses(std::move(model));
  }
  // Plugs and returns once the road has taken the plug status.
  void plug(sim::SimGlassesHidDevice& device) {
    const int before = statusDelivered;
    device.plug();
    EXPECT_TRUE(pumpUntil([&] { return statusDelivered > before; })) << "no plug status";
  }
  std::unique_ptr<sim::SimGlassesHidDevice> plug(sim::SimGlassesModel model) {
    auto device = glasses(std::move(model));
    plug(*device);
    return device;
  }
  void unplug(sim::SimGlassesHidDevice& device) {
    const int before = statusDelivered;
    device.unplug();
    EXPECT_TRUE(pumpUntil([&] { return statusDelivered > before; })) << "no unplug status";
  }
  // The glasses answer what they were asked; returns once the road has the
  // version.
  // The request reaches the glasses through the bus's thread, so their clock
  // runs until the answer is in.
  void answerVersion() {
    const int before = versionsDelivered;
    EXPECT_TRUE(pumpUntil([&] {
      sim.glassesClock->runUntilIdle();
      return versionsDelivered > before;
    })) << "no version";
  }
  // What the glasses received, once `count` writes reached them.
  std::vector<sim::SimCommandRecord> commands(sim::SimGlassesHidDevice& device, size_t count) {
    EXPECT_TRUE(device.waitForWrites(count)) << "fewer than " << count << " writes";
    return device.glasses().commandLog();
  }
  // Moves virtual time in small steps, so a wait on the glasses' side never
  // falls between two steps.
  void advance(std::chrono::milliseconds delta) {
    mainQueue->advanceBy(delta);
    mainQueue->runUntilIdle();
  }
  int count(std::string_view event) const {
    int n = 0;
    for (const auto& e : events) n += e == event ? 1 : 0;
    return n;
  }

  SimulatedGlassesBus sim;
  NoteLog notes{center};
  device::WearThresholds thresholds;
  device::GlassReport parser{center, device::CompanionLink::none(), thresholds,
                             [](std::string_view) {}};
  InMemoryUserDefaults defaults;
  GCXTimer timer{mainQueue, mainQueue};
  std::unique_ptr<device::OrvexQXServer> qx;
  std::unique_ptr<GlassVolumeControl> volume;
  RecordingWindow window;
  RecordingAlerts alerts;
  std::shared_ptr<message::FakeTransientMessage> messages =
      std::make_shared<message::FakeTransientMessage>();
  std::atomic<bool> locked{false};
  bool holdUpdateCheck = false;
  std::function<void(bool)> heldUpdateCheck;
  std::vector<std::string> events;
  std::vector<std::string> logLines;
  int statusDelivered = 0;
  int versionsDelivered = 0;
  std::shared_ptr<ConnectionRoad> road;
  Subscription statusObserver;
  Subscription versionObserver;
};

// (group, command) pairs of what the glasses received.
inline std::vector<std::pair<int, int>> groupsAndCommands(
    const std::vector<sim::SimCommandRecord>& records) {
  std::vector<std::pair<int, int>> pairs;
  for (const auto& record : records) pairs.emplace_back(record.group, record.command);
  return pairs;
}

}  // namespace vistrelle::testing
