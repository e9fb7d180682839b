// The restore road on a fake command layer and a real bias collector, with
// the main queue on virtual time; the glasses' replies arrive as the report
// parser would add them, a little after each request.

#include "app/calibration/temperature_drift_restore.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "base/helpers/orvex_localization_helper.h"
#include "platform/dispatch/runtime.h"
#include "platform/dispatch/virtual_executor.h"
#include "platform/message/fake/fake_transient_message.h"

namespace vistrelle {
namespace {

using namespace std::chrono_literals;

constexpr const char* kRestored = "已恢复默认值";
constexpr const char* kRestoreFailed = "恢复默认值失败";
constexpr const char* kSendFailed = "校准数据发送失败";

device::BiasRecord factoryRecord(uint32_t index) {
  return {1,
          static_cast<uint8_t>(index * 16),
          16,
          10.0f + 5.0f * index,
          0.001f * (index + 1),
          -0.002f,
          0.0015f};
}

// The companion side: a real collector, and every message it was asked to send.
class RecordingCompanion : public device::CompanionLink {
 public:
  device::BiasCollector* biasTable() override { return &table; }
  void sendTextMessageWithDict(const Value::Map& message) override { sent.push_back(message); }

  device::BiasCollector table;
  std::vector<Value::Map> sent;
};

// Glasses behind a fake command layer: each bias read is answered 50 ms later
// (while answers last), the answer to record `zeroRecord` all zero.
class FakeGlasses : public TemperatureDriftCommands {
 public:
  struct Write {
    int32_t index;
    float temperature, x, y, z;
    bool operator==(const Write&) const = default;
  };
  struct Read {
    uint32_t index;
    int32_t kind;
    int32_t countWhenAsked;  // the collector's count at the request
  };

  FakeGlasses(dispatch::VirtualExecutor& clock, device::BiasCollector& table)
      : clock_(clock), table_(table) {}

  int32_t glassGeneration() const override { return generation; }
  uint64_t connectionEpoch() const override { return epoch; }
  int32_t setUserImuTempBias(int32_t index, float temperature, float x, float y, float z) override {
    writes.push_back({index, temperature, x, y, z});
    return writeResults.at(static_cast<size_t>(index));
  }
  void getFactoryImuTempBias(uint32_t index, int32_t kind) override {
    reads.push_back({index, kind, table_.biasCount()});
    if (answers <= 0) return;
    --answers;
    const bool zero = static_cast<int>(index) == zeroRecord;
    clock_.postAfter(50ms, [this, index, zero] {
      device::BiasRecord record = factoryRecord(index);
      table_.addReply(zero ? std::nullopt : std::optional(record));
    });
  }

  int32_t generation = 2;
  uint64_t epoch = 1;
  std::array<int32_t, 2> writeResults{0, 0};
  int answers = 8;
  int zeroRecord = 3;
  std::vector<Write> writes;
  std::vector<Read> reads;

 private:
  dispatch::VirtualExecutor& clock_;
  device::BiasCollector& table_;
};

// Commands without glasses, counting the writes.
class NoGlasses : public TemperatureDriftCommands {
 public:
  int32_t glassGeneration() const override { return 1; }
  uint64_t connectionEpoch() const override { return 0; }
  int32_t setUserImuTempBias(int32_t, float, float, float, float) override {
    ++writes;
    return -1;
  }
  void getFactoryImuTempBias(uint32_t, int32_t) override {}
  int writes = 0;
};

struct RestoreRig {
  RestoreRig() {
    base::OrvexLocalizationHelper::shared().setLanguage(base::Language::Chinese);
    message::TransientMessage::install(messages);
    state.glassStatus.store(true);
    // A round of an earlier restore: complete, its message built.
    for (uint32_t i = 0; i < 8; ++i) {
      companion->table.addReply(device::BiasRecord{1, 0, 16, 99.0f, 9, 9, 9});
    }
  }
  ~RestoreRig() { message::TransientMessage::install(nullptr); }

  TemperatureDriftRestore::Options options() {
    TemperatureDriftRestore::Options options;
    options.commands = glasses;
    options.companion = [this] { return withBridge ? companion : nullptr; };
    options.state = &state;
    options.mainQueue = clock;
    return options;
  }
  void advanceTo(dispatch::Nanos at) { clock->advanceTo(at); }
  bool shows(const std::string& text) const {
    for (const std::string& shown : messages->texts()) {
      if (shown == text) return true;
    }
    return false;
  }
  // This round's records as the companion application gets them.
  static Value expectedTable(int zeroRecord) {
    Value::List records;
    for (uint32_t i = 0; i < 8; ++i) {
      if (static_cast<int>(i) != zeroRecord) records.push_back(factoryRecord(i).toValue());
    }
    return Value(std::move(records));
  }

  std::shared_ptr<dispatch::VirtualExecutor> clock = std::make_shared<dispatch::VirtualExecutor>();
  std::shared_ptr<message::FakeTransientMessage> messages =
      std::make_shared<message::FakeTransientMessage>();
  MainState state;
  std::shared_ptr<RecordingCompanion> companion = std::make_shared<RecordingCompanion>();
  std::shared_ptr<FakeGlasses> glasses = std::make_shared<FakeGlasses>(*clock, companion->table);
  bool withBridge = true;
};

struct RestoreCase {
  const char* name;
  bool glasses;
  int32_t generation;
  std::array<int32_t, 2> writes;
  int answers;
  bool bridge;
  // When the glasses go (unplugged, or unplugged and plugged again), if they do.
  std::optional<dispatch::Nanos> unplugAt;
  bool replugged;
  std::vector<std::string> texts;
  // When the sending failure is shown, if it is.
  std::optional<dispatch::Nanos> failureAt;
  bool requested;
  bool sent;
};

void PrintTo(const RestoreCase& c, std::ostream* out) {
  *out << c.name;
}

class RestoreTable : public ::testing::TestWithParam<RestoreCase> {};

TEST_P(RestoreTable, WritesTellsAndSendsOnlyAWholeFreshTable) {
  const RestoreCase& c = GetParam();
  RestoreRig rig;
  rig.state.glassStatus.store(c.glasses);
  rig.glasses->generation = c.generation;
  rig.glasses->writeResults = c.writes;
  rig.glasses->answers = c.answers;
  rig.withBridge = c.bridge;
  TemperatureDriftRestore restore(rig.options());

  restore.restoreDefaults();
  EXPECT_EQ(rig.glasses->writes,
            (std::vector<FakeGlasses::Write>{{0, 0, 0, 0, 0}, {1, 0, 0, 0, 0}}));
  if (c.unplugAt) {
    rig.advanceTo(*c.unplugAt);
    rig.state.glassStatus.store(c.replugged);
    ++rig.glasses->epoch;
  }
  if (c.failureAt) {
    rig.advanceTo(*c.failureAt - 1ms);
    EXPECT_FALSE(rig.shows(kSendFailed)) << "not before " << c.failureAt->count() << " ns";
    rig.advanceTo(*c.failureAt);
    EXPECT_TRUE(rig.shows(kSendFailed)) << "at " << c.failureAt->count() << " ns";
  }
  rig.advanceTo(30s);

  EXPECT_EQ(rig.messages->texts(), c.texts);
  EXPECT_FALSE(restore.isWaiting());
  if (c.requested) {
    ASSERT_EQ(rig.glasses->reads.size(), 8u);
    for (uint32_t i = 0; i < 8; ++i) {
      EXPECT_EQ(rig.glasses->reads[i].index, i);
      EXPECT_EQ(rig.glasses->reads[i].kind, 1) << "the factory table";
      EXPECT_EQ(rig.glasses->reads[i].countWhenAsked, 0) << "asked after the reset";
    }
  } else {
    EXPECT_TRUE(rig.glasses->reads.empty());
  }
  if (c.sent) {
    ASSERT_EQ(rig.companion->sent.size(), 1u);
    const Value::Map& message = rig.companion->sent[0];
    EXPECT_EQ(message.at("type"), Value(9997));
    EXPECT_EQ(message.at("value"), RestoreRig::expectedTable(rig.glasses->zeroRecord))
        << "this round's records, the all-zero reply counted but not kept";
  } else {
    EXPECT_TRUE(rig.companion->sent.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Restore, RestoreTable,
    ::testing::Values(
        RestoreCase{"NoGlasses",
                    false,
                    2,
                    {-1, -1},
                    8,
                    true,
                    {},
                    false,
                    {kRestoreFailed},
                    {},
                    false,
                    false},
        RestoreCase{"FirstGeneration",
                    true,
                    1,
                    {-1, -1},
                    8,
                    true,
                    {},
                    false,
                    {kRestoreFailed},
                    {},
                    false,
                    false},
        RestoreCase{
            "EightReplies", true, 2, {0, 0}, 8, true, {}, false, {kRestored}, {}, true, true},
        RestoreCase{"SevenRepliesTimeOut",
                    true,
                    2,
                    {0, 0},
                    7,
                    true,
                    {},
                    false,
                    {kRestored, kSendFailed},
                    10s,
                    true,
                    false},
        // The table left by the earlier round is complete; none of it goes out.
        RestoreCase{"EarlierTableNoReplies",
                    true,
                    2,
                    {0, 0},
                    0,
                    true,
                    {},
                    false,
                    {kRestored, kSendFailed},
                    10s,
                    true,
                    false},
        RestoreCase{"UnpluggedAt3s",
                    true,
                    2,
                    {0, 0},
                    0,
                    true,
                    3s,
                    false,
                    {kRestored, kSendFailed},
                    3500ms,
                    true,
                    false},
        RestoreCase{"UnpluggedAndPluggedAgainAt3s",
                    true,
                    2,
                    {0, 0},
                    0,
                    true,
                    3s,
                    true,
                    {kRestored, kSendFailed},
                    3500ms,
                    true,
                    false},
        RestoreCase{"SecondWriteFails",
                    true,
                    2,
                    {0, -1},
                    8,
                    true,
                    {},
                    false,
                    {kRestoreFailed},
                    {},
                    true,
                    true},
        RestoreCase{"NoCompanionServer",
                    true,
                    2,
                    {0, 0},
                    8,
                    false,
                    {},
                    false,
                    {kRestored, kSendFailed},
                    {},
                    false,
                    false}),
    [](const ::testing::TestParamInfo<RestoreCase>& info) { return std::string(info.param.name); });

TEST(TemperatureDriftRestore, ASecondRoundEndsTheFirstUnsentOneWaitOneSend) {
  RestoreRig rig;
  rig.glasses->answers = 3;
  TemperatureDriftRestore restore(rig.options());
  std::vector<bool> first, second;
  restore.resendBiasTables([&](bool sent) { first.push_back(sent); });
  rig.advanceTo(2s);
  EXPECT_TRUE(restore.isWaiting());
  EXPECT_EQ(rig.companion->table.biasCount(), 3);

  rig.glasses->answers = 8;
  restore.resendBiasTables([&](bool sent) { second.push_back(sent); });
  EXPECT_EQ(first, std::vector<bool>{false}) << "ended at once, unsent";
  EXPECT_TRUE(second.empty());
  rig.advanceTo(30s);

  EXPECT_EQ(first, std::vector<bool>{false});
  EXPECT_EQ(second, std::vector<bool>{true});
  ASSERT_EQ(rig.companion->sent.size(), 1u);
  EXPECT_EQ(rig.companion->sent[0].at("value"), RestoreRig::expectedTable(3));
  EXPECT_TRUE(rig.messages->texts().empty()) << "no failure for the ended round";
  EXPECT_EQ(rig.glasses->reads.size(), 16u);
}

TEST(TemperatureDriftRestore, ChecksEveryHalfSecondAndSendsAtTheFirstCheckAfterTheEighthReply) {
  RestoreRig rig;
  TemperatureDriftRestore restore(rig.options());
  bool done = false;
  restore.resendBiasTables([&](bool sent) { done = sent; });
  // Every reply is in after 50 ms; the first check is at 0.5 s.
  rig.advanceTo(499ms);
  EXPECT_TRUE(rig.companion->table.isComplete());
  EXPECT_TRUE(rig.companion->sent.empty());
  rig.advanceTo(500ms);
  EXPECT_EQ(rig.companion->sent.size(), 1u);
  EXPECT_TRUE(done);
  EXPECT_FALSE(restore.isWaiting());
  EXPECT_EQ(rig.clock->pendingCount(), 0u) << "no check left running";
}

TEST(TemperatureDriftRestore, CallsFromAnotherThreadRunOnTheMainQueue) {
  RestoreRig rig;
  TemperatureDriftRestore restore(rig.options());
  std::thread other([&] { restore.restoreDefaults(); });
  other.join();
  EXPECT_TRUE(rig.glasses->writes.empty());
  rig.clock->runUntilIdle();
  EXPECT_EQ(rig.glasses->writes.size(), 2u);
  EXPECT_TRUE(restore.isWaiting());
  rig.advanceTo(1s);
  EXPECT_EQ(rig.companion->sent.size(), 1u);
}

TEST(TemperatureDriftRestore, ADestroyedRoadLeavesNoCheckBehind) {
  RestoreRig rig;
  {
    TemperatureDriftRestore restore(rig.options());
    restore.resendBiasTables(nullptr);
  }
  rig.advanceTo(30s);
  EXPECT_TRUE(rig.companion->sent.empty());
  EXPECT_TRUE(rig.messages->texts().empty());
}

TEST(TemperatureDriftRestore, InstalledOnceForTheProcess) {
  auto main = std::make_shared<dispatch::VirtualExecutor>();
  dispatch::Runtime runtime(main, dispatch::Runtime::Options{1});
  EXPECT_EQ(temperatureDriftRestore(), nullptr);
  auto glasses = std::make_shared<NoGlasses>();
  const auto installed = installTemperatureDriftRestore(glasses);
  ASSERT_NE(installed, nullptr);
  EXPECT_EQ(temperatureDriftRestore(), installed);
  EXPECT_EQ(installTemperatureDriftRestore(std::make_shared<NoGlasses>()), installed);
  // It works on the commands it was installed with, its texts on the main
  // queue.
  auto messages = std::make_shared<message::FakeTransientMessage>();
  message::TransientMessage::install(messages);
  base::OrvexLocalizationHelper::shared().setLanguage(base::Language::Chinese);
  installed->restoreDefaults();
  EXPECT_EQ(glasses->writes, 2);
  main->runUntilIdle();
  EXPECT_EQ(messages->texts(), std::vector<std::string>{kRestoreFailed});
  message::TransientMessage::install(nullptr);
}

}  // namespace
}  // namespace vistrelle
