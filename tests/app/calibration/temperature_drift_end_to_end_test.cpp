// The restore road end to end: the companion server listening on loopback
// with a real client, second-generation simulated glasses on the simulated
// bus behind the command layer, and the companion bridge installed as the
// report parser's link, so the glasses' replies reach the bridge's collector
// on the HID thread while the main queue checks for them.

#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "app/calibration/qx_server_temperature_drift_commands.h"
#include "app/calibration/temperature_drift_restore.h"
#include "app/companion/companion_bridge.h"
#include "base/helpers/orvex_localization_helper.h"
#include "device/hid/orvex_qx_server.h"
#include "device/protocol/glass_report.h"
#include "device/protocol/immersion_store.h"
#include "device/protocol/wear_thresholds.h"
#include "platform/dispatch/serial_queue.h"
#include "platform/dispatch/thread_pool.h"
#include "platform/message/fake/fake_transient_message.h"
#include "platform/notify/notification_center.h"
#include "platform/settings/fake/in_memory_user_defaults.h"
#include "sim/hid/sim_glasses_hid_device.h"
#include "sim/hid/sim_hid_bus.h"
#include "support/companion/companion_server_harness.h"

namespace vistrelle {
namespace {

using namespace std::chrono_literals;

// The immersion store the bridge is installed with; nothing here changes
// immersion.
class UnusedImmersionStore : public device::ImmersionStore {
 public:
  void changeImmersion(int32_t) override { ADD_FAILURE() << "no immersion change expected"; }
};

TEST(TemperatureDriftEndToEnd, TheClientReadsTheGlassesFactoryTableOnce) {
  // Lives past the test: the bridge stays installed for the process.
  static UnusedImmersionStore store;
  base::OrvexLocalizationHelper::shared().setLanguage(base::Language::Chinese);
  auto messages = std::make_shared<message::FakeTransientMessage>();
  message::TransientMessage::install(messages);

  testing::CompanionServerHarness harness;
  testing::CompanionClient client(harness.port());
  ASSERT_TRUE(client.connected());
  ASSERT_TRUE(harness.pumpUntil([&] { return harness.server->isConnect(); }));

  // The bridge as the application installs it; the parser road of the
  // process with it as its link, its log kept out of the user's files.
  const std::shared_ptr<CompanionBridge> bridge = installCompanionBridge(store, harness.server);
  ASSERT_EQ(companionBridge(), bridge);
  NotificationCenter center;
  device::WearThresholds thresholds;
  device::GlassReport parser(center, companionBridge(), thresholds, [](std::string_view) {});

  auto bus = sim::SimHidBus::create();
  auto pool = std::make_shared<dispatch::ThreadPool>(1);
  InMemoryUserDefaults defaults;
  device::OrvexQXServer::Options options;
  options.backend = bus;
  options.center = &center;
  options.parser = &parser;
  options.state = &harness.state;
  options.defaults = &defaults;
  options.mainQueue = harness.main;
  options.print = [](std::string_view) {};
  options.trace = [](std::string_view) {};
  options.log = [](std::string_view) {};
  options.showMessage = [](const std::string&) {};
  {
    device::OrvexQXServer qx(options);
    qx.shareManager();

    sim::SimGlassesHidDevice glasses(bus, sim::SimGlassesModel::secondGeneration(),
                                     dispatch::SerialQueue::create("glasses", pool));
    glasses.glasses().setUserBias(0, {30.0f, 0.01f, 0.02f, 0.03f});
    glasses.glasses().setUserBias(1, {40.0f, 0.04f, 0.05f, 0.06f});
    glasses.plug();
    ASSERT_TRUE(harness.pumpUntil([&] { return harness.state.glassStatus.load(); }));

    TemperatureDriftRestore::Options restoreOptions;
    restoreOptions.commands = std::make_shared<QXServerTemperatureDriftCommands>(qx);
    restoreOptions.state = &harness.state;
    restoreOptions.mainQueue = harness.main;
    TemperatureDriftRestore restore(restoreOptions);
    restore.restoreDefaults();

    // Virtual time moves in the checks' steps while the HID thread adds the
    // replies; it stops short of the limit until all of them are in, however
    // slowly that thread runs.
    std::string line;
    dispatch::Nanos waited{0};
    const auto giveUp = std::chrono::steady_clock::now() + 30s;
    while (line.empty() && std::chrono::steady_clock::now() < giveUp) {
      if (waited < 9s || bridge->biasTable()->isComplete()) {
        harness.main->advanceBy(TemperatureDriftRestore::kPollInterval);
        waited += TemperatureDriftRestore::kPollInterval;
      }
      harness.main->runUntilIdle();
      client.drain();
      client.takeLine(&line);
      std::this_thread::sleep_for(2ms);
    }
    ASSERT_FALSE(line.empty()) << "no 9997 message within the bound";

    const nlohmann::json message = nlohmann::json::parse(line);
    EXPECT_EQ(message.size(), 2u);
    EXPECT_EQ(message["type"], 9997);
    const sim::SimGlassesModel model = glasses.glasses().model();
    ASSERT_EQ(message["value"].size(), model.factoryBias.size());
    for (size_t i = 0; i < model.factoryBias.size(); ++i) {
      const nlohmann::json& record = message["value"][i];
      const sim::SimBiasEntry& entry = model.factoryBias[i];
      ASSERT_EQ(record.size(), 8u);
      EXPECT_EQ(record[0], 1) << "kind";
      EXPECT_EQ(record[1], i * 16) << "offset";
      EXPECT_EQ(record[2], 16) << "length";
      EXPECT_EQ(record[3].get<float>(), entry.temperature);
      EXPECT_EQ(record[4].get<float>(), entry.x);
      EXPECT_EQ(record[5].get<float>(), entry.y);
      EXPECT_EQ(record[6].get<float>(), entry.z);
      EXPECT_EQ(record[7], 1) << "kind again";
    }
    // The user records went back to zero.
    EXPECT_EQ(model.userBias[0], sim::SimBiasEntry{});
    EXPECT_EQ(model.userBias[1], sim::SimBiasEntry{});
    EXPECT_FALSE(restore.isWaiting());

    // Exactly one: nothing follows, not even after the wait's limit.
    harness.settleWrites();
    harness.main->advanceBy(15s);
    EXPECT_TRUE(harness.staysQuiet(client, 50ms)) << harness.main->now().count();
    EXPECT_EQ(messages->texts(), std::vector<std::string>{"已恢复默认值"});

    glasses.unplug();
    qx.stop();
  }
  // The process' parser must not reach this test's bridge after it.
  device::GlassReport::shared().setCompanionLink(nullptr);
  pool->stop();
  message::TransientMessage::install(nullptr);
}

}  // namespace
}  // namespace vistrelle
