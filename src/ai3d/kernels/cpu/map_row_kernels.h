// The CPU map kernels, one row at a time: the temporal filter, the depth
// smoothing, the stereo shift, the disk dilation and the two halves of the
// Gaussian blur. The back-end threads them over rows and passes; these
// functions only compute. With simd set (an AVX2 processor, see
// cpuHasAvx2) the smoothing and the blurs run in AVX2 with fused
// multiply-adds; the other kernels are written for the vectoriser.
//
//   blurRow(paddedRow, rowsPass.row(y), width, simd);   // rows: f32
//   blurColumn(sources, out.row(y), width, simd);        // columns: back to half
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace vistrelle::ai3d::cpu {

inline constexpr int kBlurRadius = 12;
inline constexpr int kBlurTaps = 2 * kBlurRadius + 1;
// Stands in for a non-finite depth in the smoothing: far from every half.
inline constexpr float kFar = 1e18f;

// Sigma 4, normalised.
const std::array<float, kBlurTaps>& blurWeights();

struct FilterConstants {
  float a;  // the blend for this frame's dt
  float eta;
  float sceneChangeThresh;
};

// One row of the temporal filter from the |C - P| rows above, at and below
// it (padded by 1; -1 marks a non-finite change).
void filterRow(const float* const* changes, const float* current, const float* previous,
               FilterConstants k, float* out, int width);

// Rows begin .. end - 1 of the edge-preserving smoothing at once. Two pixels
// a tap apart weigh each other alike, so on the AVX2 road each pair's weight
// is computed once for both (half the exponentials of one row at a time).
struct SmoothingRows {
  const float* padded;  // the depth's row 0, column 0: padded by radius, non-finite as kFar
  size_t paddedStride;
  const float* original;  // row 0 as it came (its non-finite values pass through)
  size_t originalStride;
  float* out;  // the output's row `begin`: halves
  size_t outStride;
  int width;
  int height;
  int radius;
  const float* spatial;  // (2r + 1)^2 spatial exponents, row-major
  float rangeFactor;
};
void smoothRows(const SmoothingRows& s, int begin, int end, float* scratch, bool simd);
// The scratch smoothRows needs for a chunk of rows, in floats.
size_t smoothScratchFloats(int width, int radius, int rows);

// One row of both eye maps: the row's own value, raised to the value j
// pixels away wherever that value's reach covers j. Exact: compare and max
// only. Steps beyond what the row's largest value can reach are skipped.
void stereoRow(const float* src, float* reach, float* outL, float* outR, int width, float kw,
               int steps, bool simd);

// Flat max over the radius-2 disk; rows are y - 2 .. y + 2, padded by 2.
void dilateRow(const float* const* rows, float* dst, int width);

// Halves held as f32 (exactly) to their bits and back.
void toHalves(const float* values, uint16_t* halves, int count, bool simd);
void fromHalves(const uint16_t* halves, float* values, int count, bool simd);
// f32 rounded to what a half holds.
void roundToHalves(const float* values, float* rounded, int count, bool simd);

// The blur across a row padded by 12, into f32.
void blurRow(const float* src, float* dst, int width, bool simd);
// The blur down: sources are the 25 rows y - 12 .. y + 12 (clamped); back to half.
void blurColumn(const float* const* sources, float* dst, int width, bool simd);

}  // namespace vistrelle::ai3d::cpu
