#include "ai3d/kernels/half_float.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

namespace vistrelle::ai3d {
namespace {

TEST(HalfFloatTest, KnownEncodings) {
  struct Case {
    float value;
    uint16_t half;
  };
  for (const Case c : {Case{0.0f, 0x0000}, Case{-0.0f, 0x8000}, Case{1.0f, 0x3c00},
                       Case{-2.0f, 0xc000}, Case{0.5f, 0x3800}, Case{65504.0f, 0x7bff},
                       Case{65520.0f, 0x7c00},                       // rounds up past the largest
                       Case{65519.0f, 0x7bff},                       // rounds down to it
                       Case{6.103515625e-05f, 0x0400},               // smallest normal
                       Case{5.9604645e-08f, 0x0001},                 // smallest subnormal
                       Case{2.98023224e-08f, 0x0000},                // half of it: ties to even
                       Case{8.94069672e-08f, 0x0002},                // 1.5 steps: ties to even
                       Case{1.0f + 1.0f / 2048.0f, 0x3c00},          // tie below: even
                       Case{1.0f + 3.0f / 2048.0f, 0x3c02},          // tie above: even
                       Case{1.0f + 1.0f / 2048.0f + 1e-6f, 0x3c01},  // above the tie
                       Case{std::numeric_limits<float>::infinity(), 0x7c00},
                       Case{-std::numeric_limits<float>::infinity(), 0xfc00}}) {
    EXPECT_EQ(floatToHalf(c.value), c.half) << c.value;
  }
  const uint16_t nan = floatToHalf(std::nanf(""));
  EXPECT_EQ(nan & 0x7c00, 0x7c00);
  EXPECT_NE(nan & 0x03ff, 0);
}

TEST(HalfFloatTest, EveryHalfSurvivesTheRoundTrip) {
  for (uint32_t h = 0; h <= 0xffff; ++h) {
    const float f = halfToFloat(uint16_t(h));
    if (std::isnan(f)) {
      EXPECT_TRUE((h & 0x7c00) == 0x7c00 && (h & 0x3ff) != 0) << std::hex << h;
      EXPECT_TRUE(std::isnan(halfToFloat(floatToHalf(f))));
      continue;
    }
    ASSERT_EQ(floatToHalf(f), h) << std::hex << h;
  }
  EXPECT_EQ(halfToFloat(0x3555), 0.333251953125f);
  EXPECT_EQ(halfToFloat(0x0001), std::ldexp(1.0f, -24));
}

TEST(HalfFloatTest, RoundsToTheNearerNeighbour) {
  // Between 1 and 2 halves are 1/1024 apart: 1 + 0.7/1024 rounds up.
  EXPECT_EQ(roundToHalf(1.0f + 0.7f / 1024.0f), 1.0f + 1.0f / 1024.0f);
  EXPECT_EQ(roundToHalf(1.0f + 0.3f / 1024.0f), 1.0f);
  EXPECT_EQ(roundToHalf(-(1.0f + 0.7f / 1024.0f)), -(1.0f + 1.0f / 1024.0f));
}

TEST(HalfFloatTest, BranchlessRoundingAgreesWithTheConversion) {
  // Every half, every midpoint between neighbours (ties to even) and points
  // just either side of each midpoint, plus the overflow edge.
  for (uint32_t h = 0; h < 0x7c00; ++h) {
    const float value = halfToFloat(uint16_t(h));
    const float next = halfToFloat(uint16_t(h + 1));
    const float mid = value + (next - value) / 2;
    for (float v : {value, mid, std::nextafter(mid, 0.0f), std::nextafter(mid, 1e9f)}) {
      ASSERT_EQ(roundToHalfBranchless(v), roundToHalf(v)) << v;
      ASSERT_EQ(roundToHalfBranchless(-v), roundToHalf(-v)) << -v;
    }
  }
  for (float v : {65519.0f, 65520.0f, 1e30f, std::numeric_limits<float>::infinity(), 1e-30f}) {
    EXPECT_EQ(roundToHalfBranchless(v), roundToHalf(v)) << v;
  }
  EXPECT_TRUE(std::isnan(roundToHalfBranchless(std::nanf(""))));
}

}  // namespace
}  // namespace vistrelle::ai3d
