#include "device/protocol/glass_report.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "device/protocol/glass_command_report.h"

namespace vistrelle::device {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Records everything the parser hands to the companion server.
class RecordingCompanion : public CompanionLink {
 public:
  void setImu_id(int64_t imuId) override { imuIds.push_back(imuId); }
  void setOffsetDict(const Value::Map& dict) override { offsetDicts.push_back(dict); }
  void sendTextMessageWithDict(const Value::Map& message) override { messages.push_back(message); }
  BiasCollector* biasTable() override { return &table; }
  size_t calls() {
    return imuIds.size() + offsetDicts.size() + messages.size() +
           static_cast<size_t>(table.biasCount());
  }

  BiasCollector table;
  std::vector<int64_t> imuIds;
  std::vector<Value::Map> offsetDicts;
  std::vector<Value::Map> messages;
};

// Stands in for the command layer.
class RecordingStore : public ImmersionStore {
 public:
  void changeImmersion(int32_t value) override { values.push_back(value); }
  std::vector<int32_t> values;
};

// A reply or event report: same header layout as a command report.
GlassCommandReport reply(uint16_t group, uint16_t command) {
  GlassCommandReport report;
  report.begin(group, command);
  return report;
}

GlassCommandReport imuReport() {
  GlassCommandReport report;
  report.setU16(0, 32);
  return report;
}

std::span<const uint8_t> first(const GlassCommandReport& report, size_t delivered) {
  return report.bytes().first(delivered);
}

class GlassReportTest : public ::testing::Test {
 protected:
  GlassReportTest()
      : parser_(center_, companion_, thresholds_,
                [this](std::string_view line) { logLines_.emplace_back(line); }) {
    parser_.setImmersionStore(store_);
    subscriptions_.push_back(center_.observe(
        "", nullptr, [this](const Notification& n) { notifications_.push_back(n); }));
  }

  GlassReportOutputs parse(int32_t generation, const GlassCommandReport& report,
                           size_t delivered = 64) {
    GlassReportOutputs outputs;
    parser_.parseInputReport(generation, first(report, delivered), outputs);
    return outputs;
  }

  NotificationCenter center_;
  std::shared_ptr<RecordingCompanion> companion_ = std::make_shared<RecordingCompanion>();
  std::shared_ptr<RecordingStore> store_ = std::make_shared<RecordingStore>();
  WearThresholds thresholds_;
  std::vector<std::string> logLines_;
  std::vector<Notification> notifications_;
  std::vector<Subscription> subscriptions_;
  GlassReport parser_;
};

TEST_F(GlassReportTest, VersionReplies) {
  struct Row {
    std::string name;
    uint16_t lengthField;
    std::string text;  // written from byte 14, at most to byte 63
    uint8_t byte51;
    uint32_t versionLength;
    std::string delivered;  // the text the monitor would post
    int64_t imuId;
  };
  const std::string longText(50, 'v');
  const Row rows[] = {
      {"length 200 copies bytes 14-51", 200, longText, 'p', 38, std::string(37, 'V') + "P", 112},
      {"NUL padding stripped", 38, "ORVEX2_FW_V1.63", 0, 38, "ORVEX2_FW_V1.63", 0},
      {"upper-cased, IMU C", 18, "orvex2pro_fw_v1.12", 'C', 18, "ORVEX2PRO_FW_V1.12", 67},
      {"other IMU byte", 15, "ORVEX2_FW_V1.63", 'x', 15, "ORVEX2_FW_V1.63", 0},
      {"IMU byte outside the counted text", 15, "ORVEX2_FW_V1.63", 'p', 15, "ORVEX2_FW_V1.63", 112},
      {"invalid UTF-8 is empty", 6,
       "\xFF\xFE"
       "abcd",
       0, 6, "", 0},
      {"truncated sequence is empty", 4, "abc\xC3", 0, 4, "", 0},
      {"valid UTF-8 kept", 6, "v\xC3\xA9rs1", 0, 6, "V\xC3\xA9RS1", 0},
      {"length 0", 0, "ORVEX", 0, 0, "", 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    companion_->imuIds.clear();
    auto report = reply(8, 1);
    report.setU16(12, row.lengthField);
    for (size_t i = 0; i < row.text.size() && 14 + i < 64; ++i) {
      report.setU8(14 + i, static_cast<uint8_t>(row.text[i]));
    }
    report.setU8(51, row.byte51);
    const auto outputs = parse(2, report);
    EXPECT_EQ(outputs.versionLength, row.versionLength);
    for (size_t i = 0; i < row.versionLength; ++i) {
      EXPECT_EQ(outputs.versionText[i], report.u8(14 + i)) << "byte " << i;
    }
    EXPECT_EQ(outputs.versionText[row.versionLength], 0);
    EXPECT_EQ(GlassReport::versionText(outputs), row.delivered);
    EXPECT_EQ(companion_->imuIds, std::vector<int64_t>{row.imuId});
  }
}

TEST_F(GlassReportTest, DeliveryPostsTheVersionForKnownGenerationsElseCallsBack) {
  struct Row {
    int32_t generation;
    std::string text;
    bool posted;
    bool calledBack;
    std::string object;
  };
  const Row rows[] = {
      {1, "orvex1_fw_v2", true, false, "ORVEX1_FW_V2"},
      {2, std::string("ORVEX2_FW_V1.63\0\0", 17), true, false, "ORVEX2_FW_V1.63"},
      {0, "ORVEX2_FW_V1.63", false, false, ""},
      {3, "ORVEX2_FW_V1.63", false, false, ""},
      {2, "\xFF", false, true, ""},  // undecodable: counts as no version
      {2, "", false, true, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    notifications_.clear();
    auto report = reply(8, 1);
    report.setU16(12, static_cast<uint16_t>(row.text.size()));
    for (size_t i = 0; i < row.text.size(); ++i) {
      report.setU8(14 + i, static_cast<uint8_t>(row.text[i]));
    }
    int calls = 0;
    parser_.handleInputReport(row.generation, report.bytes(),
                              [&](float q0, float q1, float q2, float q3) {
                                ++calls;
                                EXPECT_EQ(q0 + q1 + q2 + q3, 0.0f);
                              });
    ASSERT_EQ(notifications_.size(), row.posted ? 1u : 0u);
    if (row.posted) {
      EXPECT_EQ(notifications_[0].name, "get_orvex_glass_version_NSNotificationName");
      EXPECT_EQ(notifications_[0].object.stringOr(""), row.object);
    }
    EXPECT_EQ(calls, row.calledBack ? 1 : 0);
  }
}

TEST_F(GlassReportTest, ImuReportsByGeneration) {
  auto report = imuReport();
  report.setF32(28, 0.5f);
  report.setF32(32, -0.25f);
  report.setF32(36, 0.125f);
  report.setF32(40, 0.75f);

  // First generation: the quaternion, also kept process-wide.
  auto outputs = parse(1, report);
  EXPECT_EQ(outputs.quaternion, (std::array<float, 4>{0.5f, -0.25f, 0.125f, 0.75f}));
  EXPECT_EQ(parser_.lastQuaternion(), outputs.quaternion);
  EXPECT_EQ(parser_.currentGeneration(), 1);

  // Second generation: seven sign-extended i16, the quaternion untouched.
  report.setU16(28, 0x7FFF);
  report.setU16(30, 0x8000);
  report.setU16(32, 0xFFFF);
  report.setU16(34, 1);
  report.setU16(36, 0xFF00);
  report.setU16(38, 0x0100);
  report.setU16(40, 0xFFFE);
  outputs = parse(2, report);
  EXPECT_EQ(outputs.tripleB, (std::array<int32_t, 3>{32767, -32768, -1}));
  EXPECT_EQ(outputs.tripleA, (std::array<int32_t, 3>{1, -256, 256}));
  EXPECT_EQ(outputs.scalarC, -2);
  EXPECT_EQ(outputs.quaternion, (std::array<float, 4>{}));
  EXPECT_EQ(parser_.currentGeneration(), 2);
  EXPECT_EQ(parser_.lastQuaternion(), (std::array<float, 4>{0.5f, -0.25f, 0.125f, 0.75f}));

  // Any other generation reads nothing.
  outputs = parse(3, report);
  EXPECT_EQ(outputs.tripleB, (std::array<int32_t, 3>{}));
  EXPECT_EQ(parser_.currentGeneration(), 3);
}

TEST_F(GlassReportTest, ReportsShorterThanTheirFieldsAreIgnored) {
  auto imu = imuReport();
  imu.setF32(40, 1.0f);
  imu.setU16(28, 7);
  auto status = reply(16, 7);
  status.setU16(12, 1);
  auto thresholds = reply(5, 2);
  thresholds.setU16(14, 30);
  thresholds.setU16(16, 40);

  struct Row {
    int32_t generation;
    const GlassCommandReport* report;
    size_t delivered;
    bool parsed;
  };
  const Row rows[] = {
      {1, &imu, 43, false},        {1, &imu, 44, true},        {2, &imu, 41, false},
      {2, &imu, 42, true},         {2, &status, 51, false},    {2, &status, 52, true},
      {2, &thresholds, 51, false}, {2, &thresholds, 52, true}, {2, &status, 1, false},
      {2, &status, 0, false},      {1, &imu, 64, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message()
                 << "group " << row.report->group() << " delivered " << row.delivered);
    notifications_.clear();
    thresholds_.clear();
    const auto outputs = parse(row.generation, *row.report, row.delivered);
    bool parsed = false;
    if (row.report == &imu) {
      parsed = row.generation == 1 ? outputs.quaternion[3] == 1.0f : outputs.tripleB[0] == 7;
    } else if (row.report == &status) {
      parsed = notifications_.size() == 1;
    } else {
      parsed = thresholds_.get() == std::pair<uint16_t, uint16_t>{30, 40};
    }
    EXPECT_EQ(parsed, row.parsed);
  }
}

TEST_F(GlassReportTest, OffsetReplyReplacesNaNWithZeroInTheCompanionOrder) {
  const size_t order[] = {40, 44, 48, 16, 24, 32};
  for (const size_t nanAt : order) {
    SCOPED_TRACE(nanAt);
    companion_->offsetDicts.clear();
    logLines_.clear();
    auto report = reply(12, 4);
    for (size_t i = 0; i < 6; ++i) {
      report.setF32(order[i], static_cast<float>(i + 1) * 1.5f);
    }
    report.setF32(nanAt, kNaN);
    parse(2, report);
    ASSERT_EQ(companion_->offsetDicts.size(), 1u);
    const Value dict(companion_->offsetDicts[0]);
    EXPECT_EQ(dict["type"].intOr(0), 9998);
    const auto* values = dict["value"].asList();
    ASSERT_NE(values, nullptr);
    ASSERT_EQ(values->size(), 6u);
    for (size_t i = 0; i < 6; ++i) {
      const double expected = order[i] == nanAt ? 0.0 : (i + 1) * 1.5;
      EXPECT_EQ((*values)[i].doubleOr(-1), expected) << "value " << i;
    }
    auto acc = [&](size_t offset, double value) { return offset == nanAt ? 0.0 : value; };
    char line[200];
    std::snprintf(line, sizeof line, "acc_x = %f,acc_y = %f,acc_z = %f", acc(16, 6.0), acc(24, 7.5),
                  acc(32, 9.0));
    EXPECT_EQ(logLines_, std::vector<std::string>{line});
  }
}

GlassCommandReport biasReply(uint8_t kind, uint8_t offset, float t, float x, float y, float z) {
  auto report = reply(12, 6);
  report.setU8(12, kind);
  report.setU8(13, offset);
  report.setU8(14, kind == 1 ? 16 : 20);
  const size_t at = kind == 1 ? 16 : 20;
  report.setF32(at, t);
  report.setF32(at + 4, x);
  report.setF32(at + 8, y);
  report.setF32(at + 12, z);
  return report;
}

TEST_F(GlassReportTest, EightBiasRepliesCountAllAndKeepTheValidOnes) {
  const GlassCommandReport replies[] = {
      biasReply(1, 0, 20.0f, 0.01f, 0.02f, 0.03f),
      biasReply(1, 16, 25.0f, 0.0f, 0.0f, 0.0f),  // temperature alone is enough
      biasReply(1, 32, 0, 0, 0, 0),               // all zero: rejected
      biasReply(1, 48, 30.0f, kNaN, 0.1f, 0.1f),  // NaN: rejected
      biasReply(3, 64, 35.0f, 0.1f, 0.1f, 0.1f),  // unknown kind: rejected
      biasReply(2, 0, 40.0f, -0.5f, 0.25f, 0.125f),
      biasReply(1, 96, 45.0f, 0.04f, 0.05f, 0.06f),
      biasReply(2, 100, 50.0f, 1.0f, 2.0f, 3.0f),
  };
  BiasCollector& table = companion_->table;
  for (size_t i = 0; i < 8; ++i) {
    EXPECT_FALSE(table.biasDict().has_value()) << "before reply " << i;
    EXPECT_FALSE(table.isComplete());
    parse(2, replies[i]);
  }
  EXPECT_EQ(table.biasCount(), 8);
  EXPECT_TRUE(table.isComplete());
  const std::vector<BiasRecord> expected = {
      {1, 0, 16, 20.0f, 0.01f, 0.02f, 0.03f},  {1, 16, 16, 25.0f, 0, 0, 0},
      {2, 0, 20, 40.0f, -0.5f, 0.25f, 0.125f}, {1, 96, 16, 45.0f, 0.04f, 0.05f, 0.06f},
      {2, 100, 20, 50.0f, 1.0f, 2.0f, 3.0f},
  };
  EXPECT_EQ(table.biasArray(), expected);

  const auto dict = table.biasDict();
  ASSERT_TRUE(dict.has_value());
  const Value message(*dict);
  EXPECT_EQ(message["type"].intOr(0), 9997);
  const auto* records = message["value"].asList();
  ASSERT_NE(records, nullptr);
  ASSERT_EQ(records->size(), 5u);
  EXPECT_EQ((*records)[2], Value(Value::List{2, 0, 20, 40.0f, -0.5f, 0.25f, 0.125f, 2}));

  ASSERT_EQ(logLines_.size(), 5u);
  char line[300];
  std::snprintf(line, sizeof line,
                "IMU bias = (type=%d,offset=%d,len=%d,temp=%f,x,y,z=%f,%f,%f) index = %d", 1, 0, 16,
                20.0, double{0.01f}, double{0.02f}, double{0.03f}, 0);
  EXPECT_EQ(logLines_[0], line);
  std::snprintf(line, sizeof line,
                "IMU User (type=%d,offset=%d,len=%d,temp=%f,x,y,z=%f,%f,%f) index = %d", 2, 100, 20,
                50.0, 1.0, 2.0, 3.0, 7);
  EXPECT_EQ(logLines_[4], line);

  // A ninth reply still counts as complete and shows in the message.
  parse(2, biasReply(1, 112, 55.0f, 0.1f, 0.1f, 0.1f));
  EXPECT_EQ(table.biasCount(), 9);
  EXPECT_TRUE(table.isComplete());
  EXPECT_EQ(Value(*table.biasDict())["value"].asList()->size(), 6u);
}

TEST_F(GlassReportTest, EventsAndThresholds) {
  auto immersion = reply(2, 9);
  immersion.setU8(12, 200);
  parse(2, immersion);
  EXPECT_EQ(store_->values, std::vector<int32_t>{200});

  auto event = reply(15, 4);
  event.setU8(13, 1);
  parse(2, event);
  EXPECT_TRUE(companion_->messages.empty());
  event.setU8(13, 2);
  parse(2, event);
  ASSERT_EQ(companion_->messages.size(), 1u);
  EXPECT_EQ(companion_->messages[0], (Value::Map{{"type", 1}}));

  auto status = reply(16, 7);
  status.setU16(12, 0x0102);
  parse(2, status);
  ASSERT_EQ(notifications_.size(), 1u);
  EXPECT_EQ(notifications_[0].name, "cn.com.qx.orvexForMac.GlassDisplayStatus");
  EXPECT_EQ(notifications_[0].object.intOr(-1), 0x0102);

  auto thresholds = reply(5, 2);
  thresholds.setU16(14, 300);
  thresholds.setU16(16, 4000);
  parse(2, thresholds);
  EXPECT_EQ(thresholds_.get(), (std::pair<uint16_t, uint16_t>{300, 4000}));
}

TEST_F(GlassReportTest, OtherGroupsCommandsAndLengthsAreIgnored) {
  struct Row {
    uint16_t lengthField, group, command;
  };
  // Each carries payload bytes that a decoded report would act on.
  const Row rows[] = {{64, 17, 7}, {64, 1, 9},      {64, 0, 2},  {64, 16, 6}, {64, 2, 8},
                      {64, 12, 5}, {64, 0xFFFF, 1}, {63, 16, 7}, {65, 8, 1},  {0, 16, 7}};
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.lengthField << " " << row.group << "/" << row.command);
    auto report = reply(row.group, row.command);
    report.setU16(0, row.lengthField);
    for (size_t i = 12; i < 52; ++i) {
      report.setU8(i, 2);
    }
    const auto outputs = parse(2, report);
    EXPECT_EQ(outputs.versionLength, 0u);
    EXPECT_EQ(companion_->calls(), 0u);
    EXPECT_TRUE(store_->values.empty());
    EXPECT_TRUE(notifications_.empty());
    EXPECT_EQ(thresholds_.get(), (std::pair<uint16_t, uint16_t>{0, 0}));
    EXPECT_TRUE(logLines_.empty());
  }
}

GlassCommandReport immersionEvent(uint8_t level) {
  auto report = reply(2, 9);
  report.setU8(12, level);
  return report;
}

// Until a server is connected the parser talks to the default link, which
// must keep nothing; immersion changes reach the command layer either way.
TEST(CompanionLinkDefault, KeepsNothingAndImmersionGoesToTheInstalledStore) {
  NotificationCenter center;
  WearThresholds thresholds;
  std::vector<std::string> lines;
  GlassReport parser(center, nullptr, thresholds,
                     [&](std::string_view line) { lines.emplace_back(line); });
  auto parse = [&](const GlassCommandReport& report) {
    GlassReportOutputs outputs;
    parser.parseInputReport(2, report.bytes(), outputs);
  };
  EXPECT_EQ(parser.companionLink(), CompanionLink::none());
  for (int i = 0; i < 100; ++i) {
    auto bias = reply(12, 6);
    bias.setU8(12, 1);
    bias.setF32(16, 20.0f + static_cast<float>(i));
    parse(bias);
  }
  EXPECT_EQ(parser.companionLink()->biasTable(), nullptr) << "no table collects replies";
  ASSERT_EQ(lines.size(), 100u);
  EXPECT_NE(lines[99].find("index = 0"), std::string::npos) << lines[99];

  lines.clear();
  parse(immersionEvent(33));
  ASSERT_EQ(lines.size(), 1u) << "a change nobody keeps is not dropped silently";
  EXPECT_NE(lines[0].find("Immersion 33"), std::string::npos) << lines[0];

  auto store = std::make_shared<RecordingStore>();
  parser.setImmersionStore(store);
  parse(immersionEvent(34));
  auto server = std::make_shared<RecordingCompanion>();
  parser.setCompanionLink(server);
  parse(immersionEvent(35));
  EXPECT_EQ(store->values, (std::vector<int32_t>{34, 35})) << "with or without a server";
  parser.setCompanionLink(nullptr);
  EXPECT_EQ(parser.companionLink(), CompanionLink::none());
}

// The HID thread parses while the server and the command layer come and go;
// each installed object is owned by nothing but the parser, so a link or
// store freed under a running parse shows as a use after free (ASan) or a
// race (TSan).  Every immersion change is either kept or logged.
TEST(CompanionLinkDefault, InstallingWhileTheHidThreadParsesIsSafe) {
  struct CountingStore : ImmersionStore {
    explicit CountingStore(std::atomic<int>& kept) : kept(kept) {}
    void changeImmersion(int32_t) override { kept.fetch_add(1); }
    std::atomic<int>& kept;
  };
  struct CountingLink : CompanionLink {
    void sendTextMessageWithDict(const Value::Map&) override { ++messages; }
    BiasCollector* biasTable() override { return &table; }
    int messages = 0;
    BiasCollector table;
  };
  NotificationCenter center;
  WearThresholds thresholds;
  std::atomic<int> logged{0};
  std::atomic<int> kept{0};
  GlassReport parser(center, nullptr, thresholds, [&](std::string_view line) {
    if (line.find("Immersion") != std::string_view::npos) logged.fetch_add(1);
  });
  auto event = reply(15, 4);
  event.setU8(13, 2);
  auto bias = reply(12, 6);
  bias.setU8(12, 1);
  bias.setF32(16, 30.0f);

  constexpr int kRounds = 5000;
  std::atomic<bool> done{false};
  std::atomic<int> swaps{0};
  std::thread hid([&] {
    // Parse only once the swapping has begun, so the two really overlap.
    while (swaps.load() == 0) std::this_thread::yield();
    for (int i = 0; i < kRounds; ++i) {
      for (const GlassCommandReport* report : {&event, &bias}) {
        GlassReportOutputs outputs;
        parser.parseInputReport(2, report->bytes(), outputs);
      }
      GlassReportOutputs outputs;
      parser.parseInputReport(2, immersionEvent(static_cast<uint8_t>(i)).bytes(), outputs);
    }
    done = true;
  });
  do {
    parser.setCompanionLink(std::make_shared<CountingLink>());
    parser.setImmersionStore(std::make_shared<CountingStore>(kept));
    parser.setCompanionLink(nullptr);
    parser.setImmersionStore(nullptr);
    swaps.fetch_add(1);
  } while (!done);
  hid.join();
  EXPECT_EQ(kept.load() + logged.load(), kRounds);
}

TEST(QuatIsValid, NaNOrAllZeroIsInvalid) {
  EXPECT_TRUE(quat_is_valid(0, 0, 0, 1));
  EXPECT_TRUE(quat_is_valid(-0.0f, 0, 1e-30f, 0));
  EXPECT_FALSE(quat_is_valid(0, 0, 0, 0));
  EXPECT_FALSE(quat_is_valid(-0.0f, 0, 0, 0));
  EXPECT_FALSE(quat_is_valid(1, kNaN, 1, 1));
  EXPECT_FALSE(quat_is_valid(kNaN, kNaN, kNaN, kNaN));
}

}  // namespace
}  // namespace vistrelle::device
