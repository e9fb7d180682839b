// The CPU eye views, one row at a time. The frame is sampled as a GPU
// sampler with linear filtering and clamped edges would, in fixed point on
// packed BGRA: the lerp weight has 15 bits and each channel is rounded once
// (a + round((b - a) * w)), so a pixel is within half a step of the exact
// value. With simd set (an AVX2 processor) 8 pixels go at a time with
// gathers and streaming stores; the portable road computes the same bits.
//
//   EyeColumns columns = ...;   // per output column: u and the map's taps
//   resampleMapRow(top, bottom, fy, mapWidth, mapRow, simd);       // once per row
//   shadeEyeRow({columns, mapRow, depth, frameRow, frameWidth, out}, x0, x1, simd);
#pragma once

#include <cstdint>

namespace vistrelle::ai3d::cpu {

// What stays fixed down the columns of one eye.
struct EyeColumns {
  const float* u;   // the frame's u at each column's centre
  const int* mapA;  // the map's columns either side of u, clamped
  const int* mapB;
  const float* mapFx;  // and the weight of mapB
};

struct EyeRow {
  EyeColumns columns;
  const float* map;  // the eye's map resampled to this row (null: no shift)
  float signedDepth;
  const uint8_t* frame;  // the frame row to sample, BGRA
  int frameWidth;
  uint32_t* out;  // the target row, at the eye's column 0
};

// The weight of the second of two taps in 1/32768 steps (0 .. 32768).
int lerpWeight15(float fraction);

// The map's row at vertical weight fy between two of its rows.
void resampleMapRow(const float* top, const float* bottom, float fy, int width, float* out,
                    bool simd);
// Two frame rows blended with weight w15 into out, BGRA; 0 < w15 < 32768
// (at 0 or 32768 take the row itself).
void blendFrameRows(const uint8_t* top, const uint8_t* bottom, int w15, int pixels, uint8_t* out,
                    bool simd);
// Columns x0 .. x1 - 1 of the row.
void shadeEyeRow(const EyeRow& row, int x0, int x1, bool simd);
// Opaque black over count pixels.
void fillBlack(uint32_t* out, int count, bool simd);
// Makes the streaming stores of this thread visible before it signals anyone.
void finishStores(bool simd);

}  // namespace vistrelle::ai3d::cpu
