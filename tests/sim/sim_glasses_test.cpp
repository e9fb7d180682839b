#include "sim/glasses/sim_glasses.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "device/protocol/glass_commands.h"
#include "device/protocol/glass_report.h"
#include "platform/dispatch/virtual_executor.h"

namespace vistrelle::sim {
namespace {

using namespace std::chrono_literals;
using device::GlassCommandReport;

class RecordingCompanion : public device::CompanionLink {
 public:
  void setImu_id(int64_t imuId) override { imuIds.push_back(imuId); }
  void setOffsetDict(const Value::Map& dict) override { offsetDicts.push_back(dict); }
  void sendTextMessageWithDict(const Value::Map& message) override { messages.push_back(message); }
  device::BiasCollector* biasTable() override { return &table; }

  device::BiasCollector table;
  std::vector<int64_t> imuIds;
  std::vector<Value::Map> offsetDicts;
  std::vector<Value::Map> messages;
};

// Stands in for the command layer.
class RecordingStore : public device::ImmersionStore {
 public:
  void changeImmersion(int32_t value) override { immersions.push_back(value); }
  std::vector<int32_t> immersions;
};

// Glasses on a virtual clock, their input reports parsed as the HID monitor
// parses them.
class SimGlassesTest : public ::testing::Test {
 protected:
  SimGlassesTest() { parser_.setImmersionStore(store_); }

  void plugIn(SimGlassesModel model) {
    generation_ = model.generation;
    glasses_ = SimGlasses::create(std::move(model), executor_, [this](std::span<const uint8_t> r) {
      received_.emplace_back(r.begin(), r.end());
      device::GlassReportOutputs outputs;
      parser_.parseInputReport(generation_, r, outputs);
      outputs_.push_back(outputs);
    });
    glasses_->attach();
  }

  int32_t send(const std::function<int32_t(GlassCommandReport&)>& build) {
    GlassCommandReport report;
    build(report);
    return glasses_->receiveOutputReport(report);
  }

  std::vector<device::BiasRecord> biasRecords() { return companion_->table.biasArray(); }

  std::shared_ptr<dispatch::VirtualExecutor> executor_ =
      std::make_shared<dispatch::VirtualExecutor>();
  NotificationCenter center_;
  std::shared_ptr<RecordingCompanion> companion_ = std::make_shared<RecordingCompanion>();
  std::shared_ptr<RecordingStore> store_ = std::make_shared<RecordingStore>();
  device::WearThresholds thresholds_;
  device::GlassReport parser_{center_, companion_, thresholds_, [](std::string_view) {}};
  int32_t generation_ = 0;
  std::shared_ptr<SimGlasses> glasses_;
  std::vector<std::vector<uint8_t>> received_;
  std::vector<device::GlassReportOutputs> outputs_;
};

std::string upper(std::string text) {
  for (auto& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

TEST_F(SimGlassesTest, RepliesParseBackToTheConfiguredValues) {
  for (const auto& model :
       {SimGlassesModel::secondGeneration(), SimGlassesModel::secondGenerationPro()}) {
    SCOPED_TRACE(model.productName);
    companion_->table.reset();
    companion_->imuIds.clear();
    companion_->offsetDicts.clear();
    outputs_.clear();
    SimGlassesModel configured = model;
    for (size_t i = 0; i < configured.userBias.size(); ++i) {
      const float v = static_cast<float>(i + 1);
      configured.userBias[i] = {20.0f + v, 0.01f * v, -0.02f * v, 0.005f * v};
    }
    plugIn(configured);

    send([&](auto& r) { return device::glass_cmd_get_wear_info(r, thresholds_); });
    send([](auto& r) { return device::glass_cmd_get_firmware_version(r); });
    send([](auto& r) { return device::glass_cmd_get_imu_offset(r); });
    for (uint32_t i = 0; i < 8; ++i) {
      send([i](auto& r) { return device::glass_cmd_get_temp_drift(r, i, 1); });
    }
    for (uint32_t i = 0; i < 6; ++i) {
      send([i](auto& r) { return device::glass_cmd_get_temp_drift(r, i, 2); });
    }
    EXPECT_TRUE(received_.empty()) << "replies arrive on the glasses' executor";
    executor_->runUntilIdle();
    ASSERT_EQ(received_.size(), 17u);
    for (const auto& report : received_) {
      EXPECT_EQ(report.size(), 64u);
      EXPECT_EQ(report[0], 64);
    }

    EXPECT_EQ(thresholds_.get(), (std::pair{configured.wearThreshold1, configured.wearThreshold2}));
    EXPECT_EQ(device::GlassReport::versionText(outputs_[1]), upper(configured.versionText));
    EXPECT_EQ(companion_->imuIds, std::vector<int64_t>{configured.imuIdByte});

    ASSERT_EQ(companion_->offsetDicts.size(), 1u);
    const Value offsets(companion_->offsetDicts[0]);
    const auto& values = *offsets["value"].asList();
    ASSERT_EQ(values.size(), 6u);
    for (size_t i = 0; i < 6; ++i) {
      EXPECT_EQ(values[i].doubleOr(-1), double{configured.offsets[i]}) << i;
    }

    std::vector<device::BiasRecord> expected;
    for (size_t i = 0; i < 8; ++i) {
      const auto& e = configured.factoryBias[i];
      expected.push_back({1, static_cast<uint8_t>(i * 16), 16, e.temperature, e.x, e.y, e.z});
    }
    for (size_t i = 0; i < 6; ++i) {
      const auto& e = configured.userBias[i];
      expected.push_back({2, static_cast<uint8_t>(i * 20), 20, e.temperature, e.x, e.y, e.z});
    }
    EXPECT_EQ(biasRecords(), expected);
    EXPECT_EQ(companion_->table.biasCount(), 14);
    EXPECT_TRUE(companion_->table.isComplete());
    received_.clear();
  }
}

TEST_F(SimGlassesTest, FirstGenerationAnswersOnlyItsOwnCommands) {
  plugIn(SimGlassesModel::firstGeneration());
  glasses_->setImuRate(1);  // keep the stream out of the way
  send([&](auto& r) { return device::glass_cmd_get_wear_info(r, thresholds_); });
  send([](auto& r) { return device::glass_cmd_get_imu_offset(r); });
  send([](auto& r) { return device::glass_cmd_get_temp_drift(r, 0, 1); });
  send([](auto& r) { return device::glass_cmd_get_firmware_version(r); });
  executor_->runUntilIdle();
  ASSERT_EQ(received_.size(), 1u);
  EXPECT_EQ(device::GlassReport::versionText(outputs_[0]), "ORVEX1_FW_V2.05");
  const auto log = glasses_->commandLog();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_FALSE(log[0].applied);
  EXPECT_FALSE(log[1].applied);
  EXPECT_FALSE(log[2].applied);
  EXPECT_TRUE(log[3].applied);
}

struct SetRow {
  std::string name;
  SimGlassesModel model;
  std::function<int32_t(GlassCommandReport&)> build;
  uint16_t group, command;
  Value::Map params;
  bool applied;
  std::function<bool(const SimGlassesState&)> holds;
};

TEST_F(SimGlassesTest, SetCommandsChangeTheStateAndNeverAnswer) {
  const auto first = SimGlassesModel::firstGeneration();
  const auto second = SimGlassesModel::secondGeneration();
  const auto pro = SimGlassesModel::secondGenerationPro();
  using S = const SimGlassesState&;
  const SetRow rows[] = {
      {"3d on",
       first,
       [](auto& r) { return device::glass_cmd_set_3d_mode(r, true); },
       1,
       3,
       {{"value", 4}},
       true,
       [](S s) { return s.display3d && s.displayMode == 4; }},
      {"3d off",
       second,
       [](auto& r) { return device::glass_cmd_set_3d_mode(r, false); },
       1,
       3,
       {{"value", 1}},
       true,
       [](S s) { return !s.display3d && s.displayMode == 1; }},
      {"side-by-side",
       second,
       [](auto& r) { return device::glass_cmd_display_param(r); },
       1,
       4,
       {{"value", 3840}},
       true,
       [](S s) { return s.display3d && s.displayParam == 3840; }},
      {"side-by-side first gen",
       first,
       [](auto& r) { return device::glass_cmd_display_param(r); },
       1,
       4,
       {{"value", 3840}},
       false,
       [](S s) { return !s.display3d; }},
      {"duty",
       second,
       [](auto& r) { return device::glass_cmd_set_duty(r, 200); },
       1,
       6,
       {{"duty", 200}},
       true,
       [](S s) { return s.duty == 200; }},
      {"duty first gen",
       first,
       [](auto& r) { return device::glass_cmd_set_duty(r, 200); },
       1,
       6,
       {{"duty", 200}},
       false,
       [](S s) { return s.duty == 128; }},
      {"immersion pro",
       pro,
       [](auto& r) { return device::glass_cmd_set_immersion(r, 40); },
       1,
       9,
       {{"level", 40}},
       true,
       [](S s) { return s.immersion == 40; }},
      {"immersion non-pro",
       second,
       [](auto& r) { return device::glass_cmd_set_immersion(r, 40); },
       1,
       9,
       {{"level", 40}},
       false,
       [](S s) { return s.immersion == 76; }},
      {"wear detection on",
       second,
       [](auto& r) { return device::glass_cmd_set_wear_detection(r, false); },
       6,
       1,
       {{"flag", 1}, {"threshold1", 50}, {"threshold2", 55}},
       true,
       [](S s) { return s.wearDetection && s.wearDetectionThreshold1 == 50; }},
      {"wear detection off",
       second,
       [](auto& r) { return device::glass_cmd_set_wear_detection(r, true); },
       6,
       0,
       {{"flag", 1}, {"threshold1", 0}, {"threshold2", 0}},
       true,
       [](S s) { return !s.wearDetection && s.wearDetectionThreshold2 == 0; }},
      {"volume",
       first,
       [](auto& r) { return device::glass_cmd_set_volume(13, r); },
       11,
       2,
       {{"level", 13}},
       true,
       [](S s) { return s.volume == 13; }},
      {"imu open",
       second,
       [](auto& r) { return device::glass_cmd_set_imu_enabled(r, false); },
       12,
       1,
       {{"value", 31}},
       true,
       [](S s) { return s.imuStreaming; }},
      {"imu close",
       second,
       [](auto& r) { return device::glass_cmd_set_imu_enabled(r, true); },
       12,
       1,
       {{"value", 0}},
       true,
       [](S s) { return !s.imuStreaming; }},
      {"user drift",
       second,
       [](auto& r) { return device::glass_cmd_set_user_temp_drift(r, 4, 33.0f, 1, 2, 3); },
       12,
       5,
       {{"kind", 2},
        {"offset", 80},
        {"length", 20},
        {"index", 4},
        {"temperature", 33.0},
        {"x", 1.0},
        {"y", 2.0},
        {"z", 3.0}},
       true,
       [](S) { return true; }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    received_.clear();
    plugIn(row.model);
    EXPECT_EQ(send(row.build), 0);
    executor_->runUntilIdle();
    EXPECT_TRUE(received_.empty()) << "set commands have no reply";
    const auto log = glasses_->commandLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].group, row.group);
    EXPECT_EQ(log[0].command, row.command);
    EXPECT_EQ(log[0].reportId, 2);
    EXPECT_EQ(log[0].params, row.params);
    EXPECT_EQ(log[0].applied, row.applied);
    EXPECT_TRUE(row.holds(glasses_->state()));
    glasses_->detach();
  }
}

TEST_F(SimGlassesTest, StoredUserRecordReadsBack) {
  plugIn(SimGlassesModel::secondGeneration());
  send([](auto& r) { return device::glass_cmd_set_user_temp_drift(r, 5, 41.5f, 0.5f, -1, 2); });
  send([](auto& r) { return device::glass_cmd_get_temp_drift(r, 5, 2); });
  executor_->runUntilIdle();
  EXPECT_EQ(glasses_->model().userBias[5], (SimBiasEntry{41.5f, 0.5f, -1, 2}));
  EXPECT_EQ(biasRecords(), (std::vector<device::BiasRecord>{{2, 100, 20, 41.5f, 0.5f, -1, 2}}));
}

TEST_F(SimGlassesTest, FirstGenerationStreamsItsQuaternionOnceAttached) {
  auto model = SimGlassesModel::firstGeneration();
  model.imuRateHz = 1000;
  plugIn(model);
  glasses_->setOrientation({0.1f, 0.2f, 0.3f, 0.9f});
  executor_->advanceBy(1s);
  ASSERT_EQ(received_.size(), 1000u);
  EXPECT_EQ(received_[0].size(), 64u);
  EXPECT_EQ(received_[0][0], 32);
  EXPECT_EQ(outputs_.back().quaternion, (std::array<float, 4>{0.1f, 0.2f, 0.3f, 0.9f}));
  EXPECT_EQ(parser_.lastQuaternion(), (std::array<float, 4>{0.1f, 0.2f, 0.3f, 0.9f}));

  glasses_->detach();
  executor_->advanceBy(1s);
  EXPECT_EQ(received_.size(), 1000u);
}

TEST_F(SimGlassesTest, ImuRatesAreHeldWithinTheirBounds) {
  struct Row {
    double hz;
    size_t reportsIn1ms;
  };
  const Row rows[] = {{NAN, 0}, {0, 0}, {-5, 0}, {INFINITY, 1000}, {1e9, 1000}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.hz);
    received_.clear();
    auto model = SimGlassesModel::firstGeneration();
    model.imuRateHz = row.hz;
    plugIn(model);
    executor_->advanceBy(1ms);
    EXPECT_EQ(received_.size(), row.reportsIn1ms);
    glasses_->detach();
  }
  EXPECT_THROW(glasses_->setImuRate(NAN), std::invalid_argument);
  EXPECT_EQ(glasses_->model().imuRateHz, 1e9) << "the refused rate changed nothing";
}

TEST_F(SimGlassesTest, SecondGenerationStreamsBetweenOpenAndClose) {
  auto model = SimGlassesModel::secondGeneration();
  model.imuRateHz = 250;
  plugIn(model);
  glasses_->setImuSample({{-1, 2, -32768}, {32767, -300, 4}, -5});
  executor_->advanceBy(1s);
  EXPECT_TRUE(received_.empty());

  send([](auto& r) { return device::glass_cmd_set_imu_enabled(r, false); });
  executor_->advanceBy(1s);
  ASSERT_EQ(received_.size(), 250u);
  EXPECT_EQ(outputs_.back().tripleB, (std::array<int32_t, 3>{-1, 2, -32768}));
  EXPECT_EQ(outputs_.back().tripleA, (std::array<int32_t, 3>{32767, -300, 4}));
  EXPECT_EQ(outputs_.back().scalarC, -5);
  EXPECT_EQ(glasses_->state().imuReportsSent, 250u);

  send([](auto& r) { return device::glass_cmd_set_imu_enabled(r, true); });
  executor_->advanceBy(1s);
  EXPECT_EQ(received_.size(), 250u);
}

TEST_F(SimGlassesTest, ScriptedEventsReachTheirConsumers) {
  plugIn(SimGlassesModel::secondGenerationPro());
  std::vector<int64_t> statuses;
  auto subscription =
      center_.observe(device::GlassReport::kDisplayStatusNotification, nullptr,
                      [&](const Notification& n) { statuses.push_back(n.object.intOr(-1)); });
  glasses_->raiseImmersionChange(90);
  glasses_->raiseCompanionEvent(1);
  glasses_->raiseCompanionEvent(2);
  glasses_->raiseDisplayStatus(1);
  executor_->runUntilIdle();
  EXPECT_EQ(store_->immersions, std::vector<int32_t>{90});
  EXPECT_EQ(glasses_->state().immersion, 90);
  EXPECT_EQ(companion_->messages, (std::vector<Value::Map>{{{"type", 1}}}));
  EXPECT_EQ(statuses, std::vector<int64_t>{1});
  EXPECT_TRUE(glasses_->commandLog().empty());
}

TEST_F(SimGlassesTest, FaultKnobs) {
  plugIn(SimGlassesModel::secondGeneration());
  std::vector<std::string> versions;
  auto subscription =
      center_.observe(device::GlassReport::kVersionNotification, nullptr,
                      [&](const Notification& n) { versions.push_back(n.object.stringOr("?")); });

  // Dropped.
  glasses_->setReplyFault(8, 1, SimReportFault::dropped());
  send([](auto& r) { return device::glass_cmd_get_firmware_version(r); });
  executor_->runUntilIdle();
  EXPECT_TRUE(received_.empty());

  // Delayed.
  glasses_->setReplyFault(5, 2, SimReportFault::delayed(50ms));
  send([&](auto& r) { return device::glass_cmd_get_wear_info(r, thresholds_); });
  executor_->advanceBy(49ms);
  EXPECT_TRUE(received_.empty());
  executor_->advanceBy(1ms);
  EXPECT_EQ(received_.size(), 1u);
  EXPECT_EQ(thresholds_.get(), (std::pair<uint16_t, uint16_t>{30, 40}));

  // NaN field, then a short delivery the parser must not overread.
  glasses_->setReplyFault(12, 4, SimReportFault::nanAt({40}));
  send([](auto& r) { return device::glass_cmd_get_imu_offset(r); });
  SimReportFault cut;
  cut.deliveredLength = 40;
  glasses_->setReplyFault(12, 4, cut);
  send([](auto& r) { return device::glass_cmd_get_imu_offset(r); });
  executor_->runUntilIdle();
  ASSERT_EQ(received_.size(), 3u);
  EXPECT_EQ(received_[2].size(), 40u);
  ASSERT_EQ(companion_->offsetDicts.size(), 1u);
  EXPECT_EQ((*Value(companion_->offsetDicts[0])["value"].asList())[0].doubleOr(-1), 0.0);

  // Wrong length field: a version reply that claims to be an IMU report.
  SimReportFault wrongLength;
  wrongLength.lengthField = 32;
  glasses_->setReplyFault(8, 1, wrongLength);
  send([](auto& r) { return device::glass_cmd_get_firmware_version(r); });
  executor_->runUntilIdle();
  EXPECT_EQ(received_.back()[0], 32);
  EXPECT_EQ(outputs_.back().versionLength, 0u);

  // A 200-byte version, then invalid UTF-8.
  glasses_->clearFaults();
  glasses_->setVersionText(std::string(200, 'a'));
  send([](auto& r) { return device::glass_cmd_get_firmware_version(r); });
  glasses_->setVersionText("ORVEX2_FW_\xC0\xAF");
  send([](auto& r) { return device::glass_cmd_get_firmware_version(r); });
  executor_->runUntilIdle();
  ASSERT_EQ(outputs_.size(), 6u);
  EXPECT_EQ(outputs_[4].versionLength, 38u);
  EXPECT_EQ(outputs_[5].versionLength, 12u);
  for (size_t i = 4; i < 6; ++i) {
    parser_.deliverResults(2, outputs_[i], nullptr);
  }
  EXPECT_EQ(versions, std::vector<std::string>{std::string(37, 'A') + "C"});

  // IMU reports cut short are ignored.
  SimReportFault shortImu;
  shortImu.deliveredLength = 41;
  glasses_->setImuFault(shortImu);
  send([](auto& r) { return device::glass_cmd_set_imu_enabled(r, false); });
  executor_->advanceBy(10ms);
  EXPECT_EQ(received_.back().size(), 41u);
  EXPECT_EQ(outputs_.back().tripleB, (std::array<int32_t, 3>{}));
}

TEST_F(SimGlassesTest, RefusedReportsAndUnplugging) {
  plugIn(SimGlassesModel::secondGeneration());
  GlassCommandReport report;
  device::glass_cmd_get_firmware_version(report);
  EXPECT_EQ(glasses_->receiveOutputReport(1, report.bytes()), -1);
  EXPECT_EQ(glasses_->receiveOutputReport(2, report.bytes().first(63)), -1);
  const auto log = glasses_->commandLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].reportId, 1);
  EXPECT_FALSE(log[0].applied);
  EXPECT_FALSE(log[1].applied);
  executor_->runUntilIdle();
  EXPECT_TRUE(received_.empty());

  // A reply still queued when the glasses go is lost.
  EXPECT_EQ(glasses_->receiveOutputReport(report), 0);
  glasses_->detach();
  glasses_->attach();
  executor_->runUntilIdle();
  EXPECT_TRUE(received_.empty());
  glasses_->detach();
  EXPECT_EQ(glasses_->receiveOutputReport(report), -1);
}

TEST_F(SimGlassesTest, BootLoaderEntryIsRecordedAndHandedToTheHook) {
  plugIn(SimGlassesModel::secondGeneration());
  send([](auto& r) { return device::glass_cmd_set_imu_enabled(r, false); });
  int hookCalls = 0;
  glasses_->setBootLoaderHook([&](SimGlasses& glasses) {
    ++hookCalls;
    EXPECT_TRUE(glasses.state().inBootLoader);
    EXPECT_FALSE(glasses.state().imuStreaming);
  });
  send([](auto& r) { return device::glass_cmd_enter_dfu(r); });
  EXPECT_EQ(hookCalls, 1);
  send([](auto& r) { return device::glass_cmd_get_firmware_version(r); });
  received_.clear();
  executor_->advanceBy(1s);
  EXPECT_TRUE(received_.empty());
  const auto log = glasses_->commandLog();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[1].name, "glass_cmd_enter_dfu");
  EXPECT_EQ(log[1].params, (Value::Map{{"value", 1}}));
  EXPECT_TRUE(log[1].applied);
  EXPECT_FALSE(log[2].applied);
}

// Commands come from the callers' threads while the stream runs on the
// glasses' executor.
TEST_F(SimGlassesTest, CommandsFromAnotherThreadWhileStreaming) {
  plugIn(SimGlassesModel::secondGeneration());
  send([](auto& r) { return device::glass_cmd_set_imu_enabled(r, false); });
  std::thread caller([this] {
    for (int level = 0; level < 200; ++level) {
      GlassCommandReport report;
      device::glass_cmd_set_volume(level, report);
      EXPECT_EQ(glasses_->receiveOutputReport(report), 0);
      device::glass_cmd_get_wear_info(report, thresholds_);
      EXPECT_EQ(glasses_->receiveOutputReport(report), 0);
    }
  });
  for (int i = 0; i < 200; ++i) {
    executor_->advanceBy(1ms);
  }
  caller.join();
  executor_->runUntilIdle();
  EXPECT_EQ(glasses_->commandLog().size(), 401u);
  EXPECT_EQ(glasses_->state().volume, 199);
  EXPECT_EQ(received_.size(), 200u + 200u);
}

}  // namespace
}  // namespace vistrelle::sim
