// IEEE binary16 conversions used wherever maps cross between f32 arithmetic
// and half storage. floatToHalf rounds to nearest even (as GPUs store r16f);
// NaN stays NaN, overflow becomes infinity.
//
//   uint16_t h = floatToHalf(0.5f);    float f = halfToFloat(h);
#pragma once

#include <bit>
#include <cstdint>
#include <limits>

namespace vistrelle::ai3d {

uint16_t floatToHalf(float value);
float halfToFloat(uint16_t half);
// The value a half store would keep.
inline float roundToHalf(float value) {
  return halfToFloat(floatToHalf(value));
}

// The same value as roundToHalf, computed with float adds and selects only,
// so that loops calling it vectorise. Adding 1.5 * 2^(e + 13) to a value of
// binade e leaves exactly the half's 11 significant bits, rounded to nearest
// even by the FPU; half subnormals use the fixed step 2^-24 the same way.
inline float roundToHalfBranchless(float value) {
  const uint32_t bits = std::bit_cast<uint32_t>(value);
  const float magic = std::bit_cast<float>(((bits & 0x7f800000u) + (13u << 23)) | 0x00400000u |
                                           (bits & 0x80000000u));
  const float normal = (value + magic) - magic;
  const float subnormal = (value + 0.75f) - 0.75f;
  const float magnitude = value < 0 ? -value : value;
  const float infinity =
      value < 0 ? -std::numeric_limits<float>::infinity() : std::numeric_limits<float>::infinity();
  const float rounded = magnitude < 6.103515625e-05f ? subnormal : normal;
  return magnitude >= 65520.0f ? infinity : rounded;
}

}  // namespace vistrelle::ai3d
