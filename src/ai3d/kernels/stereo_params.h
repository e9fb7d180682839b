// StereoParams: the 44-byte block both stereo passes read at binding 0.
//
//   StereoParams p = makeStereoParams(600.0f, 0.2f, 518, 294, depthValue);
//
// depthValue is the user's depth strength (0 to 0.015); offset 28 carries it
// scaled by 3000 and truncated in single precision (0.01 -> 30, 0.015 -> 45).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vistrelle::ai3d {

struct StereoParams {
  float focalLength;     // 0
  float baseline;        // 4
  float width;           // 8: map width in pixels
  float height;          // 12: map height in pixels
  float sigmaSpatial;    // 16: 2.0, smoothing spatial sigma
  float depthValue;      // 20: shift strength k
  int32_t radius;        // 24: 2, smoothing radius
  int32_t depthSteps;    // 28: int32(depthValue * 3000)
  float occlusionScale;  // 32: 3.0
  float sigmaRange;      // 36: 0.1, smoothing range sigma
  float edgeScale;       // 40: 1.5
};

static_assert(sizeof(StereoParams) == 44);
static_assert(offsetof(StereoParams, focalLength) == 0);
static_assert(offsetof(StereoParams, baseline) == 4);
static_assert(offsetof(StereoParams, width) == 8);
static_assert(offsetof(StereoParams, height) == 12);
static_assert(offsetof(StereoParams, sigmaSpatial) == 16);
static_assert(offsetof(StereoParams, depthValue) == 20);
static_assert(offsetof(StereoParams, radius) == 24);
static_assert(offsetof(StereoParams, depthSteps) == 28);
static_assert(offsetof(StereoParams, occlusionScale) == 32);
static_assert(offsetof(StereoParams, sigmaRange) == 36);
static_assert(offsetof(StereoParams, edgeScale) == 40);

StereoParams makeStereoParams(float focalLength, float baseline, int width, int height,
                              float depthValue);

}  // namespace vistrelle::ai3d
