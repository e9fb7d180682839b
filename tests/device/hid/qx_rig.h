#pragma once

// A command layer over the simulated bus, with its own centre, parser, main
// state, settings and a main queue on virtual time.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "device/hid/glasses_display_port.h"
#include "device/hid/hid_device_monitor.h"
#include "device/hid/hid_road_fixture.h"
#include "device/hid/orvex_qx_server.h"
#include "platform/settings/fake/in_memory_user_defaults.h"

namespace vistrelle::testing {

// The display layer as the command layer sees it: one glasses screen, and
// every resolution switch recorded; each completes at once unless told to
// hold it.
class RecordingDisplayPort : public device::GlassesDisplayPort {
 public:
  struct Switch {
    uint32_t displayId;
    int width;
    int height;
  };

  std::optional<device::GlassesScreen> glassesScreen() override { return screen; }
  void resolutionSwitch(uint32_t displayId, int width, int height,
                        std::function<void(bool)> completion) override {
    switches.push_back({displayId, width, height});
    if (hold) {
      held = std::move(completion);
    } else {
      completion(answer);
    }
  }

  std::optional<device::GlassesScreen> screen = device::GlassesScreen{7, 1080};
  bool answer = true;
  bool hold = false;
  std::function<void(bool)> held;
  std::vector<Switch> switches;
};

class QxRig {
 public:
  explicit QxRig(bool publishes = true, std::shared_ptr<hid::HidBackend> backend = nullptr)
      : publishes_(publishes) {
    state.reset();
    state.isCPUARM.store(true);
    device::OrvexQXServer::Options options;
    options.publishesConnection = publishes;
    options.backend = backend ? std::move(backend) : sim.bus;
    options.center = &center;
    options.parser = &parser;
    options.state = &state;
    options.defaults = &defaults;
    options.mainQueue = mainQueue;
    options.print = [this](std::string_view line) { keep(printed, line); };
    options.trace = [this](std::string_view line) { keep(traced, line); };
    options.log = [this](std::string_view line) { keep(logged, line); };
    options.showMessage = [](const std::string&) {};
    qx = std::make_unique<device::OrvexQXServer>(options);
    qx->setDisplayPort(port);
    qx->shareManager();
  }
  ~QxRig() { qx->stop(); }

  // Plugs glasses and returns once the command layer has handled them.
  std::unique_ptr<sim::SimGlassesHidDevice> plug(sim::SimGlassesModel model) {
    auto device = sim.glasses(std::move(model));
    const size_t before = notes.count(device::HIDDeviceMonitor::kConnected);
    device->plug();
    EXPECT_TRUE(notes.waitFor(device::HIDDeviceMonitor::kConnected, before + 1));
    settle(*device);
    return device;
  }
  // Unplugs and returns once the command layer has handled it; `witness`,
  // when given, is another plugged device used to tell that.  Without one the
  // device is the current glasses, whose removal ends in the status post
  // (the monitor posts its own notice before the command layer runs).
  void unplug(sim::SimGlassesHidDevice& device, sim::SimGlassesHidDevice* witness = nullptr) {
    const size_t before = notes.count(device::HIDDeviceMonitor::kDisconnected);
    const size_t statusBefore = notes.count(device::OrvexQXServer::kStatusChange);
    device.unplug();
    EXPECT_TRUE(notes.waitFor(device::HIDDeviceMonitor::kDisconnected, before + 1));
    if (witness) {
      settle(*witness);
    } else if (publishes_) {
      EXPECT_TRUE(notes.waitFor(device::OrvexQXServer::kStatusChange, statusBefore + 1));
    }
  }
  // The monitor's thread handles one thing at a time: once a report `device`
  // sends after this point has been posted, whatever came before is done.
  void settle(sim::SimGlassesHidDevice& device) {
    const uint8_t mark = ++probe_;
    device.glasses().raiseCompanionEvent(mark);
    sim.glassesClock->runUntilIdle();
    EXPECT_TRUE(notes.waitUntil([&](const std::vector<Notification>& all) {
      for (const auto& note : all) {
        if (note.name != device::HIDDeviceMonitor::kDataReceived) continue;
        const std::string* data = note.object["data"].asString();
        if (data && data->size() > 13 && static_cast<uint8_t>((*data)[8]) == 15 &&
            static_cast<uint8_t>((*data)[13]) == mark) {
          return true;
        }
      }
      return false;
    }));
  }

  // What `call` sent to `device`: a version request follows it as a
  // sentinel, and what came before the sentinel is the call's (at most one
  // report).
  template <typename Call>
  std::vector<sim::SimCommandRecord> sentBy(sim::SimGlassesHidDevice& device, Call call) {
    device.glasses().clearCommandLog();
    const size_t before = device.writesReceived();
    call();
    EXPECT_EQ(qx->getOrvexGlassFirmwareVersion(), 0);
    EXPECT_TRUE(device.waitForWrites(before + 1));
    auto isSentinel = [](const sim::SimCommandRecord& r) { return r.group == 8 && r.command == 1; };
    auto log = device.glasses().commandLog();
    if (log.empty() || !isSentinel(log.back())) {
      EXPECT_TRUE(device.waitForWrites(before + 2));
      log = device.glasses().commandLog();
    }
    EXPECT_FALSE(log.empty());
    if (!log.empty()) log.pop_back();
    return log;
  }

  std::vector<std::string> printedLines() {
    std::lock_guard lock(mutex_);
    return printed;
  }
  std::vector<std::string> tracedLines() {
    std::lock_guard lock(mutex_);
    return traced;
  }

  SimulatedGlassesBus sim;
  NotificationCenter center;
  NoteLog notes{center};
  device::WearThresholds thresholds;
  device::GlassReport parser{center, device::CompanionLink::none(), thresholds,
                             [](std::string_view) {}};
  MainState state;
  InMemoryUserDefaults defaults;
  std::shared_ptr<dispatch::VirtualExecutor> mainQueue =
      std::make_shared<dispatch::VirtualExecutor>("main");
  std::shared_ptr<RecordingDisplayPort> port = std::make_shared<RecordingDisplayPort>();
  std::unique_ptr<device::OrvexQXServer> qx;
  const bool publishes_;
  std::vector<std::string> printed;
  std::vector<std::string> traced;
  std::vector<std::string> logged;

 private:
  void keep(std::vector<std::string>& into, std::string_view line) {
    std::lock_guard lock(mutex_);
    into.emplace_back(line);
  }

  std::mutex mutex_;
  uint8_t probe_ = 0;
};

}  // namespace vistrelle::testing
