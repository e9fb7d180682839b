#pragma once

#include <cstdint>

#include "device/protocol/glass_command_report.h"
#include "device/protocol/wear_thresholds.h"

namespace vistrelle::device {

// One builder per glasses command.  Each starts from 64 zero bytes (whatever
// the report held before), writes the header and its own parameters, and
// returns 56, the count the command layer reports in its traces; only
// glass_cmd_set_user_temp_drift can refuse (-1).
//
// Group/command and parameters (byte offsets into the report):
//   set_3d_mode        1/3   u16@12 = 4 (on) or 1 (off)
//   display_param      1/4   u16@12 = 3840, the side-by-side width
//   set_duty           1/6   u8@15 = duty
//   set_immersion      1/9   u8@12 = level
//   get_wear_info      5/2   -
//   set_wear_detection 6/1   u16@12 = 1, u16@14/16 = thresholds (enable)
//                      6/0   u16@12 = 1, thresholds 0 (disable)
//   get_firmware_version 8/1 -
//   enter_dfu          9/0   u16@12 = 1
//   set_volume         11/2  u8@12 = level
//   set_imu_enabled    12/1  u8@12 = 31 (open) or 0 (close)
//   get_imu_offset     12/4  -
//   set_user_temp_drift 12/5 user record, see below
//   get_temp_drift     12/6  u8@12 kind, u8@13 offset, u8@14 length
inline constexpr int32_t kGlassCommandBuilt = 56;

namespace glass_command {
inline constexpr uint16_t kDisplayMode3d = 4;
inline constexpr uint16_t kDisplayMode2d = 1;
inline constexpr uint16_t kSideBySideWidth = 3840;
inline constexpr uint8_t kImuOpen = 31;
inline constexpr uint8_t kBiasKindFactory = 1;
inline constexpr uint8_t kBiasKindUser = 2;
inline constexpr uint8_t kFactoryRecordLength = 16;
inline constexpr uint8_t kUserRecordLength = 20;
inline constexpr int32_t kUserRecordCount = 6;
// Substituted for a threshold the glasses have not reported (or reported as 0).
inline constexpr uint16_t kDefaultWearThreshold1 = 50;
inline constexpr uint16_t kDefaultWearThreshold2 = 55;
}  // namespace glass_command

int32_t glass_cmd_set_3d_mode(GlassCommandReport& report, bool on);
int32_t glass_cmd_display_param(GlassCommandReport& report);
int32_t glass_cmd_set_duty(GlassCommandReport& report, uint8_t duty);
// Only the low 8 bits of `level` are sent.
int32_t glass_cmd_set_immersion(GlassCommandReport& report, int32_t level);
// Also clears the cached thresholds, so that an enable sent before the reply
// arrives falls back to 50/55 rather than to stale values.
int32_t glass_cmd_get_wear_info(GlassCommandReport& report,
                                WearThresholds& thresholds = WearThresholds::shared());
// close == false: enable with the cached thresholds, each substituted on its
// own (50 for threshold 1, 55 for threshold 2) when it is 0.
int32_t glass_cmd_set_wear_detection(GlassCommandReport& report, bool close,
                                     const WearThresholds& thresholds = WearThresholds::shared());
int32_t glass_cmd_get_firmware_version(GlassCommandReport& report);
int32_t glass_cmd_enter_dfu(GlassCommandReport& report);
// Only the low 8 bits of `level` are sent.
int32_t glass_cmd_set_volume(int32_t level, GlassCommandReport& report);
int32_t glass_cmd_set_imu_enabled(GlassCommandReport& report, bool close);
int32_t glass_cmd_get_imu_offset(GlassCommandReport& report);
// Writes user record `index` (0-5) of the glasses' table: u8@12 = 2,
// u8@13 = index x 20, u16@14 = 20, u8@16 = index, f32@20 temperature,
// f32@24/28/32 x, y, z.  Any other index (a negative one included, which
// would land at a wrapped offset inside the glasses' own table) returns -1 and
// leaves the report untouched.
int32_t glass_cmd_set_user_temp_drift(GlassCommandReport& report, int32_t index, float temperature,
                                      float x, float y, float z);
// Reads one record: kind 1 the factory table (offset index x 16, length 16),
// any other kind the user table (kind 2, offset index x 20, length 20).  The
// offset keeps its low 8 bits, as the glasses' table addressing does.
int32_t glass_cmd_get_temp_drift(GlassCommandReport& report, uint32_t index, int32_t kind);

}  // namespace vistrelle::device
