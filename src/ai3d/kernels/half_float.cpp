#include "ai3d/kernels/half_float.h"

#include <bit>

namespace vistrelle::ai3d {

uint16_t floatToHalf(float value) {
  const uint32_t bits = std::bit_cast<uint32_t>(value);
  const auto sign = static_cast<uint16_t>((bits >> 16) & 0x8000u);
  uint32_t magnitude = bits & 0x7fffffffu;
  if (magnitude >= 0x7f800000u) {  // infinity or NaN; keep NaN quiet and non-zero
    const uint32_t payload = magnitude > 0x7f800000u ? (0x200u | ((magnitude >> 13) & 0x3ffu)) : 0u;
    return static_cast<uint16_t>(sign | 0x7c00u | payload);
  }
  if (magnitude >= 0x477ff000u) return static_cast<uint16_t>(sign | 0x7c00u);  // rounds past 65504
  if (magnitude < 0x38800000u) {
    // Below the smallest normal half: adding 0.5 lines the half's subnormal
    // step up with the float's last mantissa bit, so the FPU rounds for us.
    const float shifted = std::bit_cast<float>(magnitude) + 0.5f;
    return static_cast<uint16_t>(sign | (std::bit_cast<uint32_t>(shifted) - 0x3f000000u));
  }
  const uint32_t odd = (magnitude >> 13) & 1u;
  magnitude += 0xc8000fffu + odd;  // rebias the exponent (-112 << 23) and round to nearest even
  return static_cast<uint16_t>(sign | (magnitude >> 13));
}

float halfToFloat(uint16_t half) {
  const uint32_t sign = static_cast<uint32_t>(half & 0x8000u) << 16;
  const uint32_t exponent = (half >> 10) & 0x1fu;
  const uint32_t mantissa = half & 0x3ffu;
  if (exponent == 0) {
    const float magnitude = static_cast<float>(mantissa) * 5.9604644775390625e-8f;  // 2^-24
    return std::bit_cast<float>(std::bit_cast<uint32_t>(magnitude) | sign);
  }
  if (exponent == 31) return std::bit_cast<float>(sign | 0x7f800000u | (mantissa << 13));
  return std::bit_cast<float>(sign | ((exponent + 112) << 23) | (mantissa << 13));
}

}  // namespace vistrelle::ai3d
