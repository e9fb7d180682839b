#pragma once

#include <cstdint>

namespace vistrelle::tracking {

// One orientation sample.
struct IMUData {
  float x, y, z, w;
  uint64_t timestamp;  // ns
};

// Gyro bias at one temperature.
struct TemperatureBias {
  float temperature;  // °C
  float x, y, z;      // rad/s
};

}  // namespace vistrelle::tracking
