#pragma once

// C entry points of the head-tracking library, over the process-wide module.

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

bool startHeadIMU(void);
bool stopHeadIMU(void);
// One message record of `length` bytes (see head_imu.h for the layout).
void head_imu_push_message(const void* record, size_t length);
// x, y, z, w; left untouched while stopped.
void head_imu_get_orientation(float out[4]);
void head_imu_get_calibration(float out_quat[4], uint64_t* out_time, float out_gyro[3],
                              float out_a[3], float out_b[3], float out_c[3]);
bool head_imu_needs_calibration(void);
bool head_imu_has_raw_data(void);
bool head_imu_wait_raw_data(int out[6], int timeout_ms);
bool head_imu_get_vsync_timestamp(uint64_t* out);
void head_imu_set_reference_pair(const void* in32);
void head_imu_get_reference_pair(void* out32);
void head_imu_set_scale_param(float value);

#ifdef __cplusplus
}
#endif
