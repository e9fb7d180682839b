#include "device/protocol/glass_commands.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <functional>
#include <map>
#include <string>

namespace vistrelle::device {
namespace {

using Bytes = std::array<uint8_t, 64>;

// A report with every byte set, so that a builder that skips zeroing shows.
GlassCommandReport dirtyReport() {
  GlassCommandReport report;
  for (auto& byte : report.mutableBytes()) {
    byte = 0xA5;
  }
  return report;
}

// The expected 64 bytes: header then the listed parameter bytes, all else 0.
Bytes golden(uint16_t group, uint16_t command, const std::map<size_t, uint8_t>& parameters) {
  Bytes bytes{};
  bytes[0] = 64;
  bytes[8] = static_cast<uint8_t>(group & 0xFF);
  bytes[9] = static_cast<uint8_t>(group >> 8);
  bytes[10] = static_cast<uint8_t>(command & 0xFF);
  bytes[11] = static_cast<uint8_t>(command >> 8);
  for (const auto& [offset, value] : parameters) {
    bytes[offset] = value;
  }
  return bytes;
}

// Little-endian bytes of a float at `offset`.
void putF32(std::map<size_t, uint8_t>& parameters, size_t offset, float value) {
  const auto bits = std::bit_cast<uint32_t>(value);
  for (size_t i = 0; i < 4; ++i) {
    const auto byte = static_cast<uint8_t>(bits >> (8 * i));
    if (byte != 0) {
      parameters[offset + i] = byte;
    }
  }
}

std::map<size_t, uint8_t> userDriftParameters() {
  std::map<size_t, uint8_t> p{{12, 2}, {13, 100}, {14, 20}, {16, 5}};
  putF32(p, 20, 36.5f);
  putF32(p, 24, 0.0125f);
  putF32(p, 28, -0.25f);
  putF32(p, 32, 3.0f);
  return p;
}

struct GoldenRow {
  std::string name;
  std::function<int32_t(GlassCommandReport&)> build;
  Bytes expected;
};

class GlassCommandsTest : public ::testing::Test {
 protected:
  WearThresholds thresholds_;
};

TEST_F(GlassCommandsTest, EveryBuilderWritesItsGoldenReportOverADirtyBuffer) {
  const GoldenRow rows[] = {
      {"3d on", [](auto& r) { return glass_cmd_set_3d_mode(r, true); }, golden(1, 3, {{12, 4}})},
      {"3d off", [](auto& r) { return glass_cmd_set_3d_mode(r, false); }, golden(1, 3, {{12, 1}})},
      {"display param 3840", [](auto& r) { return glass_cmd_display_param(r); },
       golden(1, 4, {{12, 0x00}, {13, 0x0F}})},
      {"duty at byte 15", [](auto& r) { return glass_cmd_set_duty(r, 200); },
       golden(1, 6, {{15, 200}})},
      {"immersion low 8 bits", [](auto& r) { return glass_cmd_set_immersion(r, 0x1234); },
       golden(1, 9, {{12, 0x34}})},
      {"wear info", [this](auto& r) { return glass_cmd_get_wear_info(r, thresholds_); },
       golden(5, 2, {})},
      {"wear detection enable, nothing cached",
       [this](auto& r) { return glass_cmd_set_wear_detection(r, false, thresholds_); },
       golden(6, 1, {{12, 1}, {14, 50}, {16, 55}})},
      {"wear detection disable",
       [this](auto& r) { return glass_cmd_set_wear_detection(r, true, thresholds_); },
       golden(6, 0, {{12, 1}})},
      {"firmware version", [](auto& r) { return glass_cmd_get_firmware_version(r); },
       golden(8, 1, {})},
      {"enter dfu", [](auto& r) { return glass_cmd_enter_dfu(r); }, golden(9, 0, {{12, 1}})},
      {"volume low 8 bits", [](auto& r) { return glass_cmd_set_volume(0x10F, r); },
       golden(11, 2, {{12, 0x0F}})},
      {"imu open", [](auto& r) { return glass_cmd_set_imu_enabled(r, false); },
       golden(12, 1, {{12, 31}})},
      {"imu close", [](auto& r) { return glass_cmd_set_imu_enabled(r, true); }, golden(12, 1, {})},
      {"imu offset", [](auto& r) { return glass_cmd_get_imu_offset(r); }, golden(12, 4, {})},
      {"user drift index 5",
       [](auto& r) { return glass_cmd_set_user_temp_drift(r, 5, 36.5f, 0.0125f, -0.25f, 3.0f); },
       golden(12, 5, userDriftParameters())},
      {"user drift index 0",
       [](auto& r) { return glass_cmd_set_user_temp_drift(r, 0, 0, 0, 0, 0); },
       golden(12, 5, {{12, 2}, {14, 20}})},
      {"factory drift index 3", [](auto& r) { return glass_cmd_get_temp_drift(r, 3, 1); },
       golden(12, 6, {{12, 1}, {13, 48}, {14, 16}})},
      {"factory drift index 15", [](auto& r) { return glass_cmd_get_temp_drift(r, 15, 1); },
       golden(12, 6, {{12, 1}, {13, 240}, {14, 16}})},
      {"factory drift index 16 wraps", [](auto& r) { return glass_cmd_get_temp_drift(r, 16, 1); },
       golden(12, 6, {{12, 1}, {13, 0}, {14, 16}})},
      {"user drift read index 4", [](auto& r) { return glass_cmd_get_temp_drift(r, 4, 2); },
       golden(12, 6, {{12, 2}, {13, 80}, {14, 20}})},
      {"unknown kind reads the user table",
       [](auto& r) { return glass_cmd_get_temp_drift(r, 13, 7); },
       golden(12, 6, {{12, 2}, {13, 4}, {14, 20}})},  // 13 x 20 = 260 -> 4
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    GlassCommandReport report = dirtyReport();
    EXPECT_EQ(row.build(report), kGlassCommandBuilt);
    const auto bytes = report.bytes();
    for (size_t i = 0; i < 64; ++i) {
      EXPECT_EQ(bytes[i], row.expected[i]) << "byte " << i;
    }
  }
}

TEST_F(GlassCommandsTest, UserDriftIndexOutsideTheTableLeavesTheReportUntouched) {
  for (const int32_t index : {-1, -13, 6, 255, 1 << 20}) {
    SCOPED_TRACE(index);
    GlassCommandReport report = dirtyReport();
    const GlassCommandReport before = report;
    EXPECT_EQ(glass_cmd_set_user_temp_drift(report, index, 30, 1, 2, 3), -1);
    EXPECT_EQ(report, before);
  }
}

TEST_F(GlassCommandsTest, WearDetectionUsesTheCachedThresholdsEachSubstitutedOnItsOwn) {
  struct Row {
    uint16_t cached1, cached2;
    uint8_t sent1, sent2;
  };
  const Row rows[] = {{30, 40, 30, 40}, {0, 40, 50, 40}, {30, 0, 30, 55}, {0, 0, 50, 55}};
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.cached1 << "/" << row.cached2);
    thresholds_.set(row.cached1, row.cached2);
    GlassCommandReport report;
    glass_cmd_set_wear_detection(report, false, thresholds_);
    EXPECT_EQ(report.u16(14), row.sent1);
    EXPECT_EQ(report.u16(16), row.sent2);
    // Disabling never sends thresholds, whatever is cached.
    glass_cmd_set_wear_detection(report, true, thresholds_);
    EXPECT_EQ(report.command(), 0);
    EXPECT_EQ(report.u16(14), 0);
    EXPECT_EQ(report.u16(16), 0);
  }
}

TEST_F(GlassCommandsTest, ThresholdRequestForgetsTheLastReply) {
  thresholds_.set(300, 400);
  GlassCommandReport report;
  glass_cmd_set_wear_detection(report, false, thresholds_);
  EXPECT_EQ(report.u16(14), 300);
  EXPECT_EQ(report.u16(16), 400);
  glass_cmd_get_wear_info(report, thresholds_);
  EXPECT_EQ(thresholds_.get(), (std::pair<uint16_t, uint16_t>{0, 0}));
  glass_cmd_set_wear_detection(report, false, thresholds_);
  EXPECT_EQ(report.u16(14), 50);
  EXPECT_EQ(report.u16(16), 55);
}

TEST(GlassCommandReport, FieldsPastTheReportThrow) {
  GlassCommandReport report;
  EXPECT_THROW(report.u16(63), std::out_of_range);
  EXPECT_THROW(report.setF32(61, 1.0f), std::out_of_range);
  EXPECT_THROW(report.u8(64), std::out_of_range);
  EXPECT_NO_THROW(report.setF32(60, 1.0f));
  EXPECT_EQ(report.f32(60), 1.0f);
}

}  // namespace
}  // namespace vistrelle::device
