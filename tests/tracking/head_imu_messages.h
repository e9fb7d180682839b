#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "tracking/head_imu.h"

// Builders of head-IMU message records, byte for byte.
namespace vistrelle::tracking::messages {

using Record = std::vector<uint8_t>;

template <typename T>
void put(Record& r, size_t offset, T value) {
  std::memcpy(r.data() + offset, &value, sizeof(value));
}

inline Record make(uint32_t type, size_t length) {
  Record r(length, 0);
  put<uint32_t>(r, 0, type);
  return r;
}

inline Record raw(const int16_t accel[3], const int16_t gyro[3], int16_t temperature,
                  uint32_t time_ticks, uint32_t vsync_ticks) {
  Record r = make(HEAD_IMU_MESSAGE_RAW, 32);
  for (size_t i = 0; i < 3; i++) {
    put<int16_t>(r, 8 + 2 * i, accel[i]);
    put<int16_t>(r, 14 + 2 * i, gyro[i]);
  }
  put<int16_t>(r, 20, temperature);
  put<uint32_t>(r, 24, time_ticks);
  put<uint32_t>(r, 28, vsync_ticks);
  return r;
}

inline Record quaternion(uint32_t type, float a, float b, float c, float d, uint64_t time_us) {
  Record r = make(type, 32);
  put<float>(r, 8, a);
  put<float>(r, 12, b);
  put<float>(r, 16, c);
  put<float>(r, 20, d);
  put<uint64_t>(r, 24, time_us);
  return r;
}

// The orientation (x, y, z, w) as the device sends it: (a, c, -b, d) = q.
inline Record orientation(const quat& q, uint64_t time_us) {
  return quaternion(HEAD_IMU_MESSAGE_QUATERNION, q.x, -q.z, q.y, q.w, time_us);
}

inline Record bias(uint32_t type, float temperature, float x, float y, float z) {
  Record r = make(type, 24);
  put<float>(r, 8, temperature);
  put<float>(r, 12, x);
  put<float>(r, 16, y);
  put<float>(r, 20, z);
  return r;
}

// accel in g and gyro in °/s, in payload axes; temperature in °C.
inline Record float_sample(const float accel[3], const float gyro[3], float temperature) {
  Record r = make(HEAD_IMU_MESSAGE_FLOAT_SAMPLE, 54);
  for (size_t i = 0; i < 3; i++) {
    put<float>(r, 8 + 9 + 4 * i, accel[i]);
    put<float>(r, 8 + 21 + 4 * i, gyro[i]);
  }
  put<float>(r, 8 + 33, temperature);
  return r;
}

inline Record calibration(std::initializer_list<float> nine) {
  Record r = make(HEAD_IMU_MESSAGE_CALIBRATION, 44);
  size_t offset = 8;
  for (float v : nine) {
    put<float>(r, offset, v);
    offset += 4;
  }
  return r;
}

inline Record secondary_accel(int16_t x, int16_t y, int16_t z) {
  Record r = make(HEAD_IMU_MESSAGE_SECONDARY_ACCEL, 20);
  put<int16_t>(r, 8, x);
  put<int16_t>(r, 10, y);
  put<int16_t>(r, 12, z);
  return r;
}

inline Record secondary_gyro(int16_t x, int16_t y, int16_t z, uint32_t time) {
  Record r = make(HEAD_IMU_MESSAGE_SECONDARY_GYRO, 20);
  put<int16_t>(r, 8, x);
  put<int16_t>(r, 10, y);
  put<int16_t>(r, 12, z);
  put<uint32_t>(r, 16, time);
  return r;
}

inline Record chip_id(uint32_t id) {
  Record r = make(HEAD_IMU_MESSAGE_CHIP_ID, 12);
  put<uint32_t>(r, 8, id);
  return r;
}

inline Record client_vsync(uint64_t time) {
  Record r = make(HEAD_IMU_MESSAGE_CLIENT_VSYNC, 16);
  put<uint64_t>(r, 8, time);
  return r;
}

}  // namespace vistrelle::tracking::messages
