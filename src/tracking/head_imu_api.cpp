#include "tracking/head_imu_api.h"

#include "tracking/head_imu.h"

namespace tracking = vistrelle::tracking;

extern "C" {

bool startHeadIMU(void) {
  return tracking::startHeadIMU(tracking::head_imu_shared_module());
}

bool stopHeadIMU(void) {
  return tracking::stopHeadIMU(tracking::head_imu_shared_module());
}

void head_imu_push_message(const void* record, size_t length) {
  tracking::head_imu_push_message(tracking::head_imu_shared_module(), record, length);
}

void head_imu_get_orientation(float out[4]) {
  tracking::head_imu_get_orientation(tracking::head_imu_shared_module(), out);
}

void head_imu_get_calibration(float out_quat[4], uint64_t* out_time, float out_gyro[3],
                              float out_a[3], float out_b[3], float out_c[3]) {
  tracking::head_imu_get_calibration(tracking::head_imu_shared_module(), out_quat, out_time,
                                     out_gyro, out_a, out_b, out_c);
}

bool head_imu_needs_calibration(void) {
  return tracking::head_imu_needs_calibration(tracking::head_imu_shared_module());
}

bool head_imu_has_raw_data(void) {
  return tracking::head_imu_has_raw_data(tracking::head_imu_shared_module());
}

bool head_imu_wait_raw_data(int out[6], int timeout_ms) {
  return tracking::head_imu_wait_raw_data(tracking::head_imu_shared_module(), out, timeout_ms);
}

bool head_imu_get_vsync_timestamp(uint64_t* out) {
  return tracking::head_imu_get_vsync_timestamp(tracking::head_imu_shared_module(), out);
}

void head_imu_set_reference_pair(const void* in32) {
  tracking::head_imu_set_reference_pair(tracking::head_imu_shared_module(), in32);
}

void head_imu_get_reference_pair(void* out32) {
  tracking::head_imu_get_reference_pair(tracking::head_imu_shared_module(), out32);
}

void head_imu_set_scale_param(float value) {
  tracking::head_imu_set_scale_param(tracking::head_imu_shared_module(), value);
}

}  // extern "C"
