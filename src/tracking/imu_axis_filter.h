#pragma once

#include <cstdint>

#include "tracking/m_base.h"

namespace vistrelle::tracking {

// Three-axis exponential smoothing that also yields the rate of the smoothed
// value.  `offset` is added to the previous value before each blend.
struct imu_axis_filter {
  uint64_t last_ns = 0;
  float value[3] = {0.0f, 0.0f, 0.0f};
  float rate[3] = {0.0f, 0.0f, 0.0f};
  vec3 spare = {0.0f, 0.0f, 0.0f};
  uint32_t counters[3] = {0, 0, 0};
  float a = 0.9f;
  float gain = 0.9f;
  float spare_coefficient = 0.9f;
  vec3 offset = {0.0f, 0.0f, 0.0f};
};

// The first call (or the first after a reset) only records the time; a time
// not after the last one updates nothing but the recorded time.
void imu_axis_filter_update(imu_axis_filter* filter, const vec3* in, uint64_t timestamp_ns);
// Zeroes the time, value, rate, offset and counters; the coefficients stay.
void imu_axis_filter_reset(imu_axis_filter* filter);

}  // namespace vistrelle::tracking
