#include "device/hid/hid_device_monitor.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <condition_variable>
#include <set>
#include <thread>

#include "base/helpers/orvex_localization_helper.h"
#include "device/hid/glasses_device_table.h"
#include "device/hid/hid_road_fixture.h"
#include "device/protocol/glass_command_report.h"
#include "device/protocol/immersion_store.h"

namespace vistrelle::device {
namespace {

using namespace std::chrono_literals;
using sim::SimGlassesModel;
using testing::withIds;

class RecordingImmersion : public ImmersionStore {
 public:
  void changeImmersion(int32_t value) override {
    std::lock_guard lock(mutex);
    values.push_back(value);
  }
  std::mutex mutex;
  std::vector<int32_t> values;
};

// Plugs glasses between subscribing and enumerating, so the same node comes
// both as an event and in the enumeration.
class RacingBackend : public hid::HidBackend {
 public:
  explicit RacingBackend(testing::SimulatedGlassesBus& sim) : sim_(sim) {}
  std::unique_ptr<hid::HidWatcher> createWatcher() override {
    auto watcher = sim_.bus->createWatcher();
    glasses = sim_.plugged(SimGlassesModel::secondGeneration());
    return watcher;
  }
  hid::HidOpenResult open(const hid::HidDeviceInfo& device) override {
    return sim_.bus->open(device);
  }
  std::unique_ptr<sim::SimGlassesHidDevice> glasses;

 private:
  testing::SimulatedGlassesBus& sim_;
};

// Opens nothing: every node answers "no permission".
class DenyingBackend : public hid::HidBackend {
 public:
  explicit DenyingBackend(std::shared_ptr<hid::HidBackend> bus) : bus_(std::move(bus)) {}
  std::unique_ptr<hid::HidWatcher> createWatcher() override { return bus_->createWatcher(); }
  hid::HidOpenResult open(const hid::HidDeviceInfo& device) override {
    return {nullptr, EACCES, "cannot open " + device.path + ": Permission denied"};
  }

 private:
  std::shared_ptr<hid::HidBackend> bus_;
};

// A monitor on its own thread over the simulated bus, with everything it
// reports recorded.
class MonitorRig {
 public:
  explicit MonitorRig(testing::SimulatedGlassesBus& sim,
                      std::shared_ptr<hid::HidBackend> backend = nullptr)
      : sim_(sim) {
    HIDDeviceMonitor::Options options;
    parser.setImmersionStore(immersionStore);
    options.backend = backend ? std::move(backend) : sim.bus;
    options.center = &center;
    options.parser = &parser;
    options.log = [this](std::string_view line) { record([&] { logLines.emplace_back(line); }); };
    options.showMessage = [this](const std::string& text) {
      record([&] { shown.push_back(text); });
    };
    monitor = std::make_unique<HIDDeviceMonitor>(GlassesDeviceTable::monitorData(), 64, options);
    monitor->setDevicePlugIn([this](const HIDDevice& device) {
      record([&] {
        arrivals.push_back(device);
        generationAfter.push_back(monitor->glassGeneration());
      });
    });
    monitor->setDevicePullOut(
        [this](const HIDDevice& device) { record([&] { removals.push_back(device); }); });
    monitor->setReadCallBack(
        [this](float q0, float, float, float) { record([&] { callbacks.push_back(q0); }); });
    thread = std::thread([this] { monitor->start(); });
  }
  ~MonitorRig() { stop(); }
  void stop() {
    monitor->stop();
    if (thread.joinable()) thread.join();
  }

  template <typename Ready>
  bool waitUntil(Ready ready) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, 10s, ready);
  }
  std::unique_ptr<sim::SimGlassesHidDevice> plugAndWait(SimGlassesModel model) {
    size_t before = 0;
    {
      std::lock_guard lock(mutex);
      before = arrivals.size();
    }
    auto device = sim_.plugged(std::move(model));
    EXPECT_TRUE(waitUntil([&] { return arrivals.size() == before + 1; }));
    return device;
  }

  testing::SimulatedGlassesBus& sim_;
  NotificationCenter center;
  testing::NoteLog notes{center};
  std::shared_ptr<RecordingImmersion> immersionStore = std::make_shared<RecordingImmersion>();
  RecordingImmersion& immersion = *immersionStore;
  WearThresholds thresholds;
  GlassReport parser{center, nullptr, thresholds, [](std::string_view) {}};
  std::unique_ptr<HIDDeviceMonitor> monitor;
  std::thread thread;

  std::mutex mutex;
  std::condition_variable changed;
  std::vector<HIDDevice> arrivals;
  std::vector<int32_t> generationAfter;
  std::vector<HIDDevice> removals;
  std::vector<float> callbacks;
  std::vector<std::string> logLines;
  std::vector<std::string> shown;

 private:
  template <typename Change>
  void record(Change change) {
    std::lock_guard lock(mutex);
    change();
    changed.notify_all();
  }
};

TEST(HIDDeviceMonitor, EachDeviceKeepsTheGenerationItArrivedWith) {
  struct Case {
    const char* name;
    std::vector<std::pair<uint16_t, uint16_t>> arrivals;
    std::vector<int32_t> deviceGenerations;
    std::vector<int32_t> monitorGenerations;
  };
  const std::vector<Case> cases{
      {"second generation after first", {{0x0483, 0x5750}, {0x0483, 0x8003}}, {1, 2}, {1, 2}},
      {"unknown pair first", {{0x3318, 0x0428}}, {1}, {1}},
      {"unknown pair after second", {{0xFFFF, 0x8866}, {0x3318, 0x0428}}, {2, 2}, {2, 2}},
      {"boot loader after first", {{0x0483, 0x5750}, {0x0416, 0x3F00}}, {1, 2}, {1, 2}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::SimulatedGlassesBus sim;
    MonitorRig rig(sim);
    std::vector<std::unique_ptr<sim::SimGlassesHidDevice>> devices;
    for (const auto& [vendorId, productId] : c.arrivals) {
      devices.push_back(
          rig.plugAndWait(withIds(SimGlassesModel::firstGeneration(), vendorId, productId)));
    }
    std::lock_guard lock(rig.mutex);
    std::vector<int32_t> generations;
    for (const auto& device : rig.arrivals) generations.push_back(device.generation);
    EXPECT_EQ(generations, c.deviceGenerations);
    EXPECT_EQ(rig.generationAfter, c.monitorGenerations);
  }
}

TEST(HIDDeviceMonitor, FirstGenerationReportsKeepTheirGenerationAfterABootLoaderArrives) {
  testing::SimulatedGlassesBus sim;
  MonitorRig rig(sim);
  auto first = rig.plugAndWait(SimGlassesModel::firstGeneration());
  auto bootLoader = rig.plugAndWait(withIds(SimGlassesModel::secondGeneration(), 0x0416, 0x3F00));
  ASSERT_EQ(rig.monitor->glassGeneration(), 2);
  // The first-generation glasses' IMU stream carries their quaternion, which
  // only a generation 1 parse reads.
  first->glasses().setOrientation({0.5f, 0.25f, 0.125f, 0.75f});
  sim.glassesClock->advanceBy(5ms);
  ASSERT_TRUE(rig.waitUntil([&] { return !rig.callbacks.empty(); }));
  EXPECT_EQ(rig.parser.lastQuaternion(), (std::array<float, 4>{0.5f, 0.25f, 0.125f, 0.75f}));
  EXPECT_EQ(rig.parser.currentGeneration(), 1);
}

TEST(HIDDeviceMonitor, WakeAndBootLoaderInputIsPostedButNeverParsed) {
  testing::SimulatedGlassesBus sim;
  MonitorRig rig(sim);
  auto wake = rig.plugAndWait(withIds(SimGlassesModel::secondGeneration(), 0x1234, 0x5678));
  auto bootLoader = rig.plugAndWait(withIds(SimGlassesModel::secondGeneration(), 0x0416, 0x3F00));
  // A boot-loader reply that happens to read as "immersion changed to 7", and
  // a version reply from the wake device.
  bootLoader->glasses().raiseImmersionChange(7);
  wake->glasses().setVersionText("WAKE");
  GlassCommandReport request;
  request.begin(8, 1);
  wake->glasses().receiveOutputReport(request);
  sim.glassesClock->runUntilIdle();
  ASSERT_TRUE(rig.notes.waitFor(HIDDeviceMonitor::kDataReceived, 2));

  // A glasses report after them, parsed: the two before were not.
  auto glasses = rig.plugAndWait(SimGlassesModel::secondGeneration());
  glasses->glasses().raiseImmersionChange(50);
  sim.glassesClock->runUntilIdle();
  ASSERT_TRUE(rig.notes.waitFor(HIDDeviceMonitor::kDataReceived, 3));
  ASSERT_TRUE(rig.waitUntil([&] { return rig.callbacks.size() == 1; }));
  {
    std::lock_guard lock(rig.immersion.mutex);
    EXPECT_EQ(rig.immersion.values, std::vector<int32_t>{50});
  }
  EXPECT_EQ(rig.notes.count(GlassReport::kVersionNotification), 0u);
  // The data notifications carry the report bytes (the first two in either
  // order: they come from two nodes).
  std::multiset<uint16_t> groups;
  for (const Value& object : rig.notes.objects(HIDDeviceMonitor::kDataReceived)) {
    const std::string* data = object["data"].asString();
    ASSERT_TRUE(data);
    ASSERT_EQ(data->size(), 64u);
    groups.insert(GlassCommandReport::fromBytes(
                      std::span(reinterpret_cast<const uint8_t*>(data->data()), data->size()))
                      .group());
  }
  EXPECT_EQ(groups, (std::multiset<uint16_t>{2, 2, 8}));
}

TEST(HIDDeviceMonitor, ArrivalAndRemovalNotificationsCarryOneToken) {
  testing::SimulatedGlassesBus sim;
  MonitorRig rig(sim);
  auto wake = rig.plugAndWait(withIds(SimGlassesModel::secondGeneration(), 0x1234, 0x5678));
  // Not in the table: never reported.
  auto foreign = sim.plugged(withIds(SimGlassesModel::secondGeneration(), 0x0483, 0x1111));
  auto glasses = rig.plugAndWait(SimGlassesModel::secondGeneration());
  wake->unplug();
  ASSERT_TRUE(rig.waitUntil([&] { return rig.removals.size() == 1; }));
  std::lock_guard lock(rig.mutex);
  ASSERT_EQ(rig.arrivals.size(), 2u);
  EXPECT_EQ(rig.removals[0].token, rig.arrivals[0].token);
  EXPECT_NE(rig.arrivals[0].token, rig.arrivals[1].token);
  EXPECT_EQ(rig.notes.objects(HIDDeviceMonitor::kConnected),
            (std::vector<Value>{rig.arrivals[0].notificationObject(),
                                rig.arrivals[1].notificationObject()}));
  EXPECT_EQ(rig.notes.objects(HIDDeviceMonitor::kDisconnected),
            std::vector<Value>{rig.arrivals[0].notificationObject()});
  // The record describes the device.
  const HIDDevice& record = rig.arrivals[1];
  EXPECT_EQ(record.vendorId, 0x0483);
  EXPECT_EQ(record.productId, 0x8003);
  EXPECT_EQ(record.name, "ORVEX Glass 2");
  EXPECT_EQ(record.versionNumber, "0100");
  EXPECT_EQ(record.reportSize, 64);
  EXPECT_FALSE(record.id.empty());
}

TEST(HIDDeviceMonitor, PresentAtStartIsReportedOnceAndAnUnplugRemovesOnce) {
  testing::SimulatedGlassesBus sim;
  auto racing = std::make_shared<RacingBackend>(sim);
  MonitorRig rig(sim, racing);
  ASSERT_TRUE(rig.waitUntil([&] { return rig.arrivals.size() == 1; }));
  auto& early = racing->glasses;
  // The bus hangs the reader up and then announces the removal: both roads
  // report the same unplug.
  early->unplug();
  ASSERT_TRUE(rig.waitUntil([&] { return rig.removals.size() == 1; }));
  // A later device shows that nothing else was pending for the first one.
  auto later = rig.plugAndWait(SimGlassesModel::firstGeneration());
  later->unplug();
  ASSERT_TRUE(rig.waitUntil([&] { return rig.removals.size() == 2; }));
  EXPECT_EQ(rig.notes.count(HIDDeviceMonitor::kConnected), 2u);
  EXPECT_EQ(rig.notes.count(HIDDeviceMonitor::kDisconnected), 2u);
  std::lock_guard lock(rig.mutex);
  EXPECT_EQ(rig.arrivals.size(), 2u);
  // The removed device's node takes no writes any more.
  EXPECT_TRUE(rig.arrivals[0].device->detached());
}

TEST(HIDDeviceMonitor, NoPermissionIsLoggedEachTimeAndShownOnce) {
  base::OrvexLocalizationHelper::shared().setLanguage(base::Language::English);
  testing::SimulatedGlassesBus sim;
  MonitorRig rig(sim, std::make_shared<DenyingBackend>(sim.bus));
  auto first = sim.plugged(SimGlassesModel::secondGeneration());
  auto second = sim.plugged(SimGlassesModel::firstGeneration());
  // Each node is tried when it is reported (a node plugged while the monitor
  // subscribes is reported twice, and tried twice).
  ASSERT_TRUE(rig.waitUntil([&] {
    bool firstTried = false;
    bool secondTried = false;
    for (const auto& line : rig.logLines) {
      firstTried |= line.find(first->path() + ": Permission denied") != std::string::npos;
      secondTried |= line.find(second->path() + ": Permission denied") != std::string::npos;
    }
    return firstTried && secondTried;
  }));
  std::lock_guard lock(rig.mutex);
  ASSERT_EQ(rig.shown.size(), 1u);
  EXPECT_TRUE(rig.shown[0] == "No permission for " + first->path() +
                                  ": install the udev rule and replug the glasses" ||
              rig.shown[0] == "No permission for " + second->path() +
                                  ": install the udev rule and replug the glasses")
      << rig.shown[0];
  EXPECT_TRUE(rig.arrivals.empty());
}

TEST(HIDDeviceMonitor, StopEndsTheRunAndDetachesEveryNode) {
  testing::SimulatedGlassesBus sim;
  auto rig = std::make_unique<MonitorRig>(sim);
  auto glasses = rig->plugAndWait(SimGlassesModel::secondGeneration());
  std::shared_ptr<hid::HidConnection> node = rig->arrivals[0].device;
  EXPECT_THROW(rig->monitor->setReadCallBack({}), std::logic_error);
  rig->stop();
  EXPECT_FALSE(rig->monitor->running());
  EXPECT_TRUE(node->detached());
  EXPECT_NO_THROW(rig->monitor->setReadCallBack({}));
}

}  // namespace
}  // namespace vistrelle::device
