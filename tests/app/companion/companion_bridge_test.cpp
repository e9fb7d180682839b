#include "app/companion/companion_bridge.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "device/protocol/glass_report.h"
#include "device/protocol/wear_thresholds.h"
#include "platform/notify/notification_center.h"
#include "support/companion/companion_server_harness.h"

namespace vistrelle {
namespace {

using namespace std::chrono_literals;
using testing::CompanionClient;
using testing::CompanionServerHarness;

class RecordingImmersionStore : public device::ImmersionStore {
 public:
  void changeImmersion(int32_t value) override {
    std::lock_guard lock(mutex_);
    values_.push_back(value);
  }
  std::vector<int32_t> values() const {
    std::lock_guard lock(mutex_);
    return values_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<int32_t> values_;
};

// A 64-byte reply or event report of the glasses.
struct Report {
  std::array<uint8_t, 64> bytes{};
  Report(uint16_t group, uint16_t command) {
    put16(0, 64);
    put16(8, group);
    put16(10, command);
  }
  void put16(size_t at, uint16_t value) {
    bytes[at] = static_cast<uint8_t>(value);
    bytes[at + 1] = static_cast<uint8_t>(value >> 8);
  }
  void putFloat(size_t at, float value) { std::memcpy(&bytes[at], &value, sizeof value); }

  static Report event(uint8_t value) {
    Report report(15, 4);
    report.bytes[13] = value;
    return report;
  }
  static Report factoryBias(uint8_t index, float temperature, float x, float y, float z) {
    Report report(12, 6);
    report.bytes[12] = 1;
    report.bytes[13] = static_cast<uint8_t>(index * 16);
    report.bytes[14] = 16;
    report.putFloat(16, temperature);
    report.putFloat(20, x);
    report.putFloat(24, y);
    report.putFloat(28, z);
    return report;
  }
};

// The parser on a thread of its own (the HID thread's stand-in), the bridge as
// its link, the server on loopback with one client.
struct BridgeFixture {
  CompanionServerHarness harness;
  RecordingImmersionStore store;
  std::shared_ptr<CompanionBridge> bridge =
      std::make_shared<CompanionBridge>(harness.server, store);
  NotificationCenter center;
  device::WearThresholds thresholds;
  device::GlassReport parser{center, bridge, thresholds, [](std::string_view) {}};
  CompanionClient client{harness.port()};

  BridgeFixture() {
    harness.pumpUntil([&] { return harness.server->isConnect(); });
  }
  void parseOnHidThread(const std::vector<Report>& reports) {
    std::thread hid([&] {
      for (const Report& report : reports) {
        device::GlassReportOutputs outputs;
        parser.parseInputReport(2, report.bytes, outputs);
      }
    });
    hid.join();
  }
};

TEST(CompanionBridge, TheGlassesEventReachesTheClientAsTypeOne) {
  BridgeFixture f;
  f.parseOnHidThread({Report::event(1), Report::event(2), Report::event(3)});
  EXPECT_EQ(f.harness.readLine(f.client), R"({"type":1})");
  f.harness.settleWrites();
  EXPECT_TRUE(f.harness.staysQuiet(f.client, 30ms));
}

TEST(CompanionBridge, EightBiasRepliesBuildTheTableThatGoesOutAs9997) {
  BridgeFixture f;
  std::vector<Report> replies;
  for (uint8_t i = 0; i < 8; ++i) {
    // The fourth reply is all zero: counted, not kept.
    replies.push_back(i == 3 ? Report::factoryBias(i, 0, 0, 0, 0)
                             : Report::factoryBias(i, 20.0f + i, 0.25f * i, -0.5f, 1.0f));
  }
  f.bridge->biasTable()->reset();
  f.parseOnHidThread(replies);
  device::BiasCollector& table = *f.bridge->biasTable();
  EXPECT_EQ(table.biasCount(), 8);
  EXPECT_TRUE(table.isComplete());
  const auto dict = table.biasDict();
  ASSERT_TRUE(dict);
  ASSERT_EQ(dict->at("value").asList()->size(), 7u);

  f.bridge->sendTextMessageWithDict(*dict);
  const auto json = nlohmann::json::parse(f.harness.readLine(f.client));
  EXPECT_EQ(json["type"], 9997);
  ASSERT_EQ(json["value"].size(), 7u);
  EXPECT_EQ(json["value"][0], nlohmann::json::parse("[1,0,16,20.0,0.0,-0.5,1.0,1]"));
  EXPECT_EQ(json["value"][3], nlohmann::json::parse("[1,64,16,24.0,1.0,-0.5,1.0,1]"));
}

TEST(CompanionBridge, ImuIdAndOffsetsAreKept) {
  BridgeFixture f;
  Report version(8, 1);
  version.put16(12, 4);
  std::memcpy(&version.bytes[14], "V1.6", 4);
  version.bytes[51] = 'p';
  Report offsets(12, 4);
  offsets.putFloat(16, 9.75f);
  f.parseOnHidThread({version, offsets});
  EXPECT_EQ(f.bridge->imu_id(), 112);
  const Value::Map offsetDict = f.bridge->offsetDict();
  EXPECT_EQ(offsetDict.at("type"), Value(9998));
  EXPECT_EQ((*offsetDict.at("value").asList())[3], Value(9.75));
  // The connection road clears it at unplug.
  f.bridge->setImu_id(0);
  EXPECT_EQ(f.bridge->imu_id(), 0);
}

TEST(CompanionBridge, TheServersImmersionReachesTheStore) {
  BridgeFixture f;
  f.harness.server->changeImmersion(4);
  f.bridge->changeImmersion(2);
  EXPECT_EQ(f.store.values(), (std::vector<int32_t>{4, 2}));
}

TEST(CompanionBridge, InstalledOnceAsTheParsersLink) {
  CompanionServerHarness harness;
  RecordingImmersionStore store;
  EXPECT_EQ(companionBridge(), nullptr);
  const auto bridge = installCompanionBridge(store, harness.server);
  EXPECT_EQ(companionBridge(), bridge);
  EXPECT_EQ(device::GlassReport::shared().companionLink(), bridge);
  RecordingImmersionStore other;
  EXPECT_EQ(installCompanionBridge(other, harness.server), bridge);
  harness.server->changeImmersion(6);
  EXPECT_EQ(store.values(), std::vector<int32_t>{6});
  EXPECT_TRUE(other.values().empty());
  // The process-wide link is left installed for the process, as the
  // application leaves it; the parser must not reach it after this test.
  device::GlassReport::shared().setCompanionLink(nullptr);
}

}  // namespace
}  // namespace vistrelle
