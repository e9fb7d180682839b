#pragma once

namespace vistrelle::tracking {

// Calibration constants kept for callers of the library; nothing in the
// library creates one.
class OrvexIMUCalibrator {
 public:
  static constexpr float PI = 3.1415927f;
  static constexpr float GRAVITY_TOLERANCE = 0.9f;
  static constexpr float GYRO_TOLERANCE = 0.05f;
};

}  // namespace vistrelle::tracking
