// IEEE binary16 conversions used wherever maps cross between f32 arithmetic
// and half storage. floatToHalf rounds to nearest even (as GPUs store r16f);
// NaN stays NaN, overflow becomes infinity.
//
//   uint16_t h = floatToHalf(0.5f);    float f = halfToFloat(h);
#pragma once

#include <cstdint>

namespace vistrelle::ai3d {

uint16_t floatToHalf(float value);
float halfToFloat(uint16_t half);
// The value a half store would keep.
inline float roundToHalf(float value) {
  return halfToFloat(floatToHalf(value));
}

}  // namespace vistrelle::ai3d
