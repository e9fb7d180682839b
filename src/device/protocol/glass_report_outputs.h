#pragma once

#include <array>
#include <cstdint>

namespace vistrelle::device {

// The parser's output arguments.  A report fills only the fields it concerns
// and leaves the others as the caller set them (all zero by default).
struct GlassReportOutputs {
  static constexpr size_t kVersionCapacity = 100;

  // First-generation orientation quaternion, components at 28, 32, 36, 40.
  std::array<float, 4> quaternion{};
  // Second-generation raw IMU values, each widened from i16: triple A at 34,
  // 36, 38; triple B at 28, 30, 32; scalar C at 40.
  std::array<int32_t, 3> tripleA{};
  std::array<int32_t, 3> tripleB{};
  int32_t scalarC = 0;
  // Raw firmware-version bytes (at most 38 are written) and their count.
  std::array<uint8_t, kVersionCapacity> versionText{};
  uint32_t versionLength = 0;
};

}  // namespace vistrelle::device
