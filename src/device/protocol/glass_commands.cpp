#include "device/protocol/glass_commands.h"

namespace vistrelle::device {

using namespace glass_command;

int32_t glass_cmd_set_3d_mode(GlassCommandReport& report, bool on) {
  report.begin(1, 3);
  report.setU16(12, on ? kDisplayMode3d : kDisplayMode2d);
  return kGlassCommandBuilt;
}

int32_t glass_cmd_display_param(GlassCommandReport& report) {
  report.begin(1, 4);
  report.setU16(12, kSideBySideWidth);
  return kGlassCommandBuilt;
}

int32_t glass_cmd_set_duty(GlassCommandReport& report, uint8_t duty) {
  report.begin(1, 6);
  report.setU8(15, duty);
  return kGlassCommandBuilt;
}

int32_t glass_cmd_set_immersion(GlassCommandReport& report, int32_t level) {
  report.begin(1, 9);
  report.setU8(12, static_cast<uint8_t>(level & 0xFF));
  return kGlassCommandBuilt;
}

int32_t glass_cmd_get_wear_info(GlassCommandReport& report, WearThresholds& thresholds) {
  thresholds.clear();
  report.begin(5, 2);
  return kGlassCommandBuilt;
}

int32_t glass_cmd_set_wear_detection(GlassCommandReport& report, bool close,
                                     const WearThresholds& thresholds) {
  if (close) {
    report.begin(6, 0);
    report.setU16(12, 1);
    return kGlassCommandBuilt;
  }
  auto [threshold1, threshold2] = thresholds.get();
  report.begin(6, 1);
  report.setU16(12, 1);
  report.setU16(14, threshold1 == 0 ? kDefaultWearThreshold1 : threshold1);
  report.setU16(16, threshold2 == 0 ? kDefaultWearThreshold2 : threshold2);
  return kGlassCommandBuilt;
}

int32_t glass_cmd_get_firmware_version(GlassCommandReport& report) {
  report.begin(8, 1);
  return kGlassCommandBuilt;
}

int32_t glass_cmd_enter_dfu(GlassCommandReport& report) {
  report.begin(9, 0);
  report.setU16(12, 1);
  return kGlassCommandBuilt;
}

int32_t glass_cmd_set_volume(int32_t level, GlassCommandReport& report) {
  report.begin(11, 2);
  report.setU8(12, static_cast<uint8_t>(level & 0xFF));
  return kGlassCommandBuilt;
}

int32_t glass_cmd_set_imu_enabled(GlassCommandReport& report, bool close) {
  report.begin(12, 1);
  report.setU8(12, close ? 0 : kImuOpen);
  return kGlassCommandBuilt;
}

int32_t glass_cmd_get_imu_offset(GlassCommandReport& report) {
  report.begin(12, 4);
  return kGlassCommandBuilt;
}

int32_t glass_cmd_set_user_temp_drift(GlassCommandReport& report, int32_t index, float temperature,
                                      float x, float y, float z) {
  if (index < 0 || index >= kUserRecordCount) {
    return -1;
  }
  const auto slot = static_cast<uint8_t>(index);
  report.begin(12, 5);
  report.setU8(12, kBiasKindUser);
  report.setU8(13, static_cast<uint8_t>(slot * kUserRecordLength));
  report.setU16(14, kUserRecordLength);
  report.setU8(16, slot);
  report.setF32(20, temperature);
  report.setF32(24, x);
  report.setF32(28, y);
  report.setF32(32, z);
  return kGlassCommandBuilt;
}

int32_t glass_cmd_get_temp_drift(GlassCommandReport& report, uint32_t index, int32_t kind) {
  const bool factory = kind == kBiasKindFactory;
  const uint8_t length = factory ? kFactoryRecordLength : kUserRecordLength;
  report.begin(12, 6);
  report.setU8(12, factory ? kBiasKindFactory : kBiasKindUser);
  report.setU8(13, static_cast<uint8_t>((index * length) & 0xFF));
  report.setU8(14, length);
  return kGlassCommandBuilt;
}

}  // namespace vistrelle::device
