#include "ai3d/kernels/cpu/map_row_kernels.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "ai3d/kernels/half_float.h"

#if defined(__x86_64__)
#include <immintrin.h>
#define VISTRELLE_AVX2 [[gnu::target("avx2,fma,f16c")]]
#endif

// Portable copies for AVX2 and baseline chosen at load time. ThreadSanitizer's
// runtime is not up yet when the loader runs the ifunc resolvers, so sanitizer
// builds keep the baseline copy only.
#if defined(__SANITIZE_THREAD__) || !defined(__x86_64__)
#define VISTRELLE_CPU_CLONES
#else
#define VISTRELLE_CPU_CLONES [[gnu::target_clones("avx2", "default")]]
#endif

namespace vistrelle::ai3d::cpu {
namespace {

constexpr float kLargest = std::numeric_limits<float>::max();

// exp(x) for x <= 0 from a polynomial for 2^f, in plain float and int
// arithmetic that vectorises (no table, no library call). Relative error
// about 1e-5 down to exp(-80); results under 2^-126 flush to 2^-126 or less.
constexpr float kExpPoly[7] = {1.53533054e-4f,
                               1.33988010e-3f,
                               9.61844814e-3f,
                               5.55033010e-2f,
                               2.40226860e-1f,
                               6.93147182e-1f,
                               1.0f};

inline float expNonPositive(float x) {
  const float scaled = x * 1.44269504f;
  const float t = scaled < -126.0f ? -126.0f : scaled;
  const int whole = static_cast<int>(t);  // toward zero: t <= 0 gives ceil
  const int n = whole - (float(whole) > t ? 1 : 0);
  const float f = t - float(n);  // [0, 1)
  float p = kExpPoly[0];
  for (int i = 1; i < 7; ++i) p = p * f + kExpPoly[i];
  return p * std::bit_cast<float>(static_cast<uint32_t>(n + 127) << 23);
}

// One tap of the smoothing for a whole row, in vector lanes.
VISTRELLE_CPU_CLONES void accumulateTap(const float* __restrict q, const float* __restrict centre,
                                        float spatial, float rangeFactor, int width,
                                        float* __restrict sum, float* __restrict weights) {
  for (int x = 0; x < width; ++x) {
    const float value = q[x];
    const float diff = value - centre[x];
    const float w = expNonPositive(spatial + diff * diff * rangeFactor);
    sum[x] += w * value;
    weights[x] += w;
  }
}

void smoothRowPortable(const float* const* rows, int radius, const float* spatial,
                       float rangeFactor, const float* original, float* out, float* scratch,
                       int width) {
  // Sums build up in the output row, weights in the scratch row; tap by tap
  // over the whole row so that the inner loop runs in vector lanes.
  const int side = 2 * radius + 1;
  std::fill(out, out + width, 0.0f);
  std::fill(scratch, scratch + width, 0.0f);
  for (int j = 0; j < side; ++j) {
    for (int i = 0; i < side; ++i) {
      accumulateTap(rows[j] + i - radius, rows[radius], spatial[j * side + i], rangeFactor, width,
                    out, scratch);
    }
  }
  for (int x = 0; x < width; ++x) {
    const float c = original[x];
    out[x] = roundToHalfBranchless(std::fabs(c) <= kLargest ? out[x] / scratch[x] : c);
  }
}

VISTRELLE_CPU_CLONES void blurRowPortable(const float* __restrict src, const float* __restrict g,
                                          float* __restrict dst, int width) {
  for (int x = 0; x < width; ++x) dst[x] = g[0] * src[x - kBlurRadius];
  for (int i = -kBlurRadius + 1; i <= kBlurRadius; ++i) {
    const float w = g[i + kBlurRadius];
    for (int x = 0; x < width; ++x) dst[x] += w * src[x + i];
  }
}

VISTRELLE_CPU_CLONES void blurColumnPortable(const float* const* sources, const float* __restrict g,
                                             float* __restrict dst, int width) {
  const float* first = sources[0];
  for (int x = 0; x < width; ++x) dst[x] = g[0] * first[x];
  for (int i = 1; i < kBlurTaps; ++i) {
    const float* __restrict src = sources[i];
    const float w = g[i];
    for (int x = 0; x < width; ++x) dst[x] += w * src[x];
  }
  for (int x = 0; x < width; ++x) dst[x] = roundToHalfBranchless(dst[x]);
}

// The symmetric taps summed in pairs, as the AVX2 lanes do.
float blurRowPixelFused(const float* src, const float* g, int x) {
  float acc = g[kBlurRadius] * src[x];
  for (int i = 1; i <= kBlurRadius; ++i) {
    acc = std::fma(g[kBlurRadius - i], src[x - i] + src[x + i], acc);
  }
  return acc;
}

float blurColumnPixelFused(const float* const* sources, const float* g, int x) {
  float acc = g[kBlurRadius] * sources[kBlurRadius][x];
  for (int i = 1; i <= kBlurRadius; ++i) {
    acc = std::fma(g[kBlurRadius - i], sources[kBlurRadius - i][x] + sources[kBlurRadius + i][x],
                   acc);
  }
  return roundToHalf(acc);
}

#if defined(__x86_64__)

VISTRELLE_AVX2 inline __m256 exp256(__m256 x) {
  const __m256 t =
      _mm256_max_ps(_mm256_mul_ps(x, _mm256_set1_ps(1.44269504f)), _mm256_set1_ps(-126.0f));
  const __m256 n = _mm256_floor_ps(t);
  const __m256 f = _mm256_sub_ps(t, n);
  __m256 p = _mm256_set1_ps(kExpPoly[0]);
  for (int i = 1; i < 7; ++i) p = _mm256_fmadd_ps(p, f, _mm256_set1_ps(kExpPoly[i]));
  const __m256i bits =
      _mm256_slli_epi32(_mm256_add_epi32(_mm256_cvtps_epi32(n), _mm256_set1_epi32(127)), 23);
  return _mm256_mul_ps(p, _mm256_castsi256_ps(bits));
}

VISTRELLE_AVX2 inline __m256 roundToHalf256(__m256 v) {
  return _mm256_cvtph_ps(_mm256_cvtps_ph(v, _MM_FROUND_TO_NEAREST_INT));
}

// The accumulators of one output row: padded by 2r so that the partner of a
// padding pixel can be written without a check, and to whole vectors.
size_t accumulatorStride(int width, int radius) {
  return (static_cast<size_t>(width + 4 * radius) + 8 + 7) / 8 * 8;
}

VISTRELLE_AVX2 void smoothRowsAvx2(const SmoothingRows& s, int begin, int end, float* scratch) {
  const int radius = s.radius;
  const int side = 2 * radius + 1;
  const int rows = end - begin;
  const size_t stride = accumulatorStride(s.width, radius);
  // Column x of accumulator row r sits at origin + x; columns -2r .. w + 2r.
  // What a pixel gets as the second of a pair goes apart from what it gets
  // as the first: the two windows of a pair overlap, and a load that
  // overlaps a store just made would wait for it.
  float* sums = scratch + 2 * radius;
  float* weights = sums + stride * static_cast<size_t>(rows);
  float* partnerSums = weights + stride * static_cast<size_t>(rows);
  float* partnerWeights = partnerSums + stride * static_cast<size_t>(rows);
  auto padded = [&](int y) {
    return s.padded + static_cast<size_t>(std::clamp(y, 0, s.height - 1)) * s.paddedStride;
  };
  // Every pixel, padding included, and its own weight of 1 (a tap of
  // distance 0 and no difference).
  const int first = -radius;
  const int last = s.width + radius;  // exclusive
  for (int r = 0; r < rows; ++r) {
    float* sum = sums + stride * static_cast<size_t>(r);
    float* weight = weights + stride * static_cast<size_t>(r);
    const float* p = padded(begin + r);
    float* partnerSum = partnerSums + stride * static_cast<size_t>(r);
    float* partnerWeight = partnerWeights + stride * static_cast<size_t>(r);
    for (int x = first; x < last; x += 8) {
      _mm256_storeu_ps(sum + x, _mm256_loadu_ps(p + x));
      _mm256_storeu_ps(weight + x, _mm256_set1_ps(1.0f));
    }
    for (int x = -2 * radius; x < last + radius; x += 8) {
      _mm256_storeu_ps(partnerSum + x, _mm256_setzero_ps());
      _mm256_storeu_ps(partnerWeight + x, _mm256_setzero_ps());
    }
  }
  const __m256 range = _mm256_set1_ps(s.rangeFactor);
  // Each source row with its forward partners (same row to the right, the
  // rows below): a pair adds to both pixels where they are rows of this
  // chunk. Source rows above the chunk add only to it.
  for (int y = begin - radius; y < end; ++y) {
    const float* p = padded(y);
    const bool pOwn = y >= begin;
    float* pSum = sums + stride * static_cast<size_t>(y - begin);
    float* pWeight = weights + stride * static_cast<size_t>(y - begin);
    for (int j = 0; j <= radius; ++j) {
      const int yq = y + j;
      const bool qOwn = yq >= begin && yq < end;
      if (!pOwn && !qOwn) continue;
      const float* q = padded(yq);
      float* qSum = partnerSums + stride * static_cast<size_t>(yq - begin);
      float* qWeight = partnerWeights + stride * static_cast<size_t>(yq - begin);
      for (int i = j == 0 ? 1 : -radius; i <= radius; ++i) {
        const __m256 spatial = _mm256_set1_ps(s.spatial[(j + radius) * side + i + radius]);
        for (int x = first; x < last; x += 8) {
          const __m256 pv = _mm256_loadu_ps(p + x);
          const __m256 qv = _mm256_loadu_ps(q + x + i);
          const __m256 d = _mm256_sub_ps(qv, pv);
          const __m256 w = exp256(_mm256_fmadd_ps(_mm256_mul_ps(d, d), range, spatial));
          if (pOwn) {
            _mm256_storeu_ps(pSum + x, _mm256_fmadd_ps(w, qv, _mm256_loadu_ps(pSum + x)));
            _mm256_storeu_ps(pWeight + x, _mm256_add_ps(w, _mm256_loadu_ps(pWeight + x)));
          }
          if (qOwn) {
            _mm256_storeu_ps(qSum + x + i, _mm256_fmadd_ps(w, pv, _mm256_loadu_ps(qSum + x + i)));
            _mm256_storeu_ps(qWeight + x + i, _mm256_add_ps(w, _mm256_loadu_ps(qWeight + x + i)));
          }
        }
      }
    }
  }
  const __m256 largest = _mm256_set1_ps(kLargest);
  const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7fffffff));
  for (int r = 0; r < rows; ++r) {
    const float* sum = sums + stride * static_cast<size_t>(r);
    const float* weight = weights + stride * static_cast<size_t>(r);
    const float* partnerSum = partnerSums + stride * static_cast<size_t>(r);
    const float* partnerWeight = partnerWeights + stride * static_cast<size_t>(r);
    const float* original = s.original + s.originalStride * static_cast<size_t>(begin + r);
    float* out = s.out + s.outStride * static_cast<size_t>(r);
    int x = 0;
    for (; x + 8 <= s.width; x += 8) {
      const __m256 o = _mm256_loadu_ps(original + x);
      const __m256 finite = _mm256_cmp_ps(_mm256_and_ps(o, magnitude), largest, _CMP_LE_OQ);
      const __m256 mean = _mm256_div_ps(
          _mm256_add_ps(_mm256_loadu_ps(sum + x), _mm256_loadu_ps(partnerSum + x)),
          _mm256_add_ps(_mm256_loadu_ps(weight + x), _mm256_loadu_ps(partnerWeight + x)));
      _mm256_storeu_ps(out + x, roundToHalf256(_mm256_blendv_ps(o, mean, finite)));
    }
    for (; x < s.width; ++x) {
      const float mean = (sum[x] + partnerSum[x]) / (weight[x] + partnerWeight[x]);
      out[x] = roundToHalf(std::fabs(original[x]) <= kLargest ? mean : original[x]);
    }
  }
}

VISTRELLE_AVX2 void blurRowAvx2(const float* src, const float* g, float* dst, int width) {
  int x = 0;
  for (; x + 8 <= width; x += 8) {
    __m256 acc = _mm256_mul_ps(_mm256_set1_ps(g[kBlurRadius]), _mm256_loadu_ps(src + x));
    for (int i = 1; i <= kBlurRadius; ++i) {
      const __m256 pair = _mm256_add_ps(_mm256_loadu_ps(src + x - i), _mm256_loadu_ps(src + x + i));
      acc = _mm256_fmadd_ps(_mm256_set1_ps(g[kBlurRadius - i]), pair, acc);
    }
    _mm256_storeu_ps(dst + x, acc);
  }
  for (; x < width; ++x) dst[x] = blurRowPixelFused(src, g, x);
}

VISTRELLE_AVX2 void blurColumnAvx2(const float* const* sources, const float* g, float* dst,
                                   int width) {
  int x = 0;
  for (; x + 8 <= width; x += 8) {
    __m256 acc =
        _mm256_mul_ps(_mm256_set1_ps(g[kBlurRadius]), _mm256_loadu_ps(sources[kBlurRadius] + x));
    for (int i = 1; i <= kBlurRadius; ++i) {
      const __m256 pair = _mm256_add_ps(_mm256_loadu_ps(sources[kBlurRadius - i] + x),
                                        _mm256_loadu_ps(sources[kBlurRadius + i] + x));
      acc = _mm256_fmadd_ps(_mm256_set1_ps(g[kBlurRadius - i]), pair, acc);
    }
    _mm256_storeu_ps(dst + x, roundToHalf256(acc));
  }
  for (; x < width; ++x) dst[x] = blurColumnPixelFused(sources, g, x);
}

VISTRELLE_AVX2 void toHalvesAvx2(const float* values, uint16_t* halves, int count) {
  int i = 0;
  for (; i + 8 <= count; i += 8) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(halves + i),
                     _mm256_cvtps_ph(_mm256_loadu_ps(values + i), _MM_FROUND_TO_NEAREST_INT));
  }
  for (; i < count; ++i) halves[i] = floatToHalf(values[i]);
}

VISTRELLE_AVX2 void fromHalvesAvx2(const uint16_t* halves, float* values, int count) {
  int i = 0;
  for (; i + 8 <= count; i += 8) {
    _mm256_storeu_ps(
        values + i, _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(halves + i))));
  }
  for (; i < count; ++i) values[i] = halfToFloat(halves[i]);
}

VISTRELLE_AVX2 void roundToHalvesAvx2(const float* values, float* rounded, int count) {
  int i = 0;
  for (; i + 8 <= count; i += 8) {
    _mm256_storeu_ps(rounded + i, roundToHalf256(_mm256_loadu_ps(values + i)));
  }
  for (; i < count; ++i) rounded[i] = roundToHalf(values[i]);
}

#endif

// No value reaches further than the row's largest (reach grows with the
// value): the steps past it would compare and keep nothing.
int stepsWithin(float largest, float kw, int steps, int width) {
  const float farthest = kw * largest + 0.5f;
  const int maxStep = std::min(steps, width - 1);
  if (!(farthest >= 1.0f)) return 0;
  return farthest < float(maxStep) ? static_cast<int>(farthest) : maxStep;
}

// One pixel of both maps at x, as the loops below compute it.
inline void stereoPixel(const float* src, const float* reach, float* outL, float* outR, int width,
                        int maxStep, int x) {
  float left = src[x], right = src[x];
  for (int j = 1; j <= maxStep; ++j) {
    const float fj = float(j);
    if (x - j >= 0) {
      const float v = src[x - j];
      const float raised = left < v ? v : left;
      left = fj <= reach[x - j] ? raised : left;
    }
    if (x + j < width) {
      const float v = src[x + j];
      const float raised = right < v ? v : right;
      right = fj <= reach[x + j] ? raised : right;
    }
  }
  outL[x] = left;
  outR[x] = right;
}

VISTRELLE_CPU_CLONES void stereoRowPortable(const float* __restrict src, float* __restrict reach,
                                            float* __restrict outL, float* __restrict outR,
                                            int width, float kw, int steps) {
  float largest = -std::numeric_limits<float>::infinity();
  for (int x = 0; x < width; ++x) {
    const float shift = kw * src[x];
    reach[x] = shift + 0.5f;
    outL[x] = src[x];
    outR[x] = src[x];
    largest = src[x] > largest ? src[x] : largest;  // NaN never qualifies
  }
  const int maxStep = stepsWithin(largest, kw, steps, width);
  for (int j = 1; j <= maxStep; ++j) {
    const float fj = float(j);
    for (int x = j; x < width; ++x) {
      const float v = src[x - j];
      const float raised = outL[x] < v ? v : outL[x];
      outL[x] = fj <= reach[x - j] ? raised : outL[x];
    }
    for (int x = 0; x + j < width; ++x) {
      const float v = src[x + j];
      const float raised = outR[x] < v ? v : outR[x];
      outR[x] = fj <= reach[x + j] ? raised : outR[x];
    }
  }
}

#if defined(__x86_64__)
// The window kept in registers for eight pixels at a time: no pass over the
// output row per step.
VISTRELLE_AVX2 void stereoRowAvx2(const float* src, float* reach, float* outL, float* outR,
                                  int width, float kw, int steps) {
  const __m256 kwv = _mm256_set1_ps(kw);
  const __m256 half = _mm256_set1_ps(0.5f);
  __m256 largest = _mm256_set1_ps(-std::numeric_limits<float>::infinity());
  int x = 0;
  for (; x + 8 <= width; x += 8) {
    const __m256 v = _mm256_loadu_ps(src + x);
    _mm256_storeu_ps(reach + x, _mm256_add_ps(_mm256_mul_ps(kwv, v), half));
    largest = _mm256_max_ps(v, largest);  // a NaN never qualifies
  }
  alignas(32) float lanes[8];
  _mm256_store_ps(lanes, largest);
  float rowLargest = -std::numeric_limits<float>::infinity();
  for (float lane : lanes) rowLargest = lane > rowLargest ? lane : rowLargest;
  for (; x < width; ++x) {
    reach[x] = kw * src[x] + 0.5f;
    rowLargest = src[x] > rowLargest ? src[x] : rowLargest;
  }
  const int maxStep = stepsWithin(rowLargest, kw, steps, width);
  const int first = std::min(maxStep, width);
  const int last = width - maxStep - 8;  // the last vector start with every step inside
  for (x = 0; x < first; ++x) stereoPixel(src, reach, outL, outR, width, maxStep, x);
  for (; x <= last; x += 8) {
    __m256 left = _mm256_loadu_ps(src + x);
    __m256 right = left;
    for (int j = 1; j <= maxStep; ++j) {
      const __m256 fj = _mm256_set1_ps(float(j));
      const __m256 vl = _mm256_loadu_ps(src + x - j);
      const __m256 vr = _mm256_loadu_ps(src + x + j);
      left = _mm256_blendv_ps(left, _mm256_max_ps(vl, left),
                              _mm256_cmp_ps(fj, _mm256_loadu_ps(reach + x - j), _CMP_LE_OQ));
      right = _mm256_blendv_ps(right, _mm256_max_ps(vr, right),
                               _mm256_cmp_ps(fj, _mm256_loadu_ps(reach + x + j), _CMP_LE_OQ));
    }
    _mm256_storeu_ps(outL + x, left);
    _mm256_storeu_ps(outR + x, right);
  }
  for (; x < width; ++x) stereoPixel(src, reach, outL, outR, width, maxStep, x);
}
#endif

}  // namespace

void toHalves(const float* values, uint16_t* halves, int count, bool simd) {
#if defined(__x86_64__)
  if (simd) {
    toHalvesAvx2(values, halves, count);
    return;
  }
#else
  (void)simd;
#endif
  for (int i = 0; i < count; ++i) halves[i] = floatToHalf(values[i]);
}

void fromHalves(const uint16_t* halves, float* values, int count, bool simd) {
#if defined(__x86_64__)
  if (simd) {
    fromHalvesAvx2(halves, values, count);
    return;
  }
#else
  (void)simd;
#endif
  for (int i = 0; i < count; ++i) values[i] = halfToFloat(halves[i]);
}

void roundToHalves(const float* values, float* rounded, int count, bool simd) {
#if defined(__x86_64__)
  if (simd) {
    roundToHalvesAvx2(values, rounded, count);
    return;
  }
#else
  (void)simd;
#endif
  for (int i = 0; i < count; ++i) rounded[i] = roundToHalf(values[i]);
}

const std::array<float, kBlurTaps>& blurWeights() {
  static const std::array<float, kBlurTaps> weights = [] {
    std::array<float, kBlurTaps> g{};
    float sum = 0;
    for (int i = -kBlurRadius; i <= kBlurRadius; ++i) {
      g[static_cast<size_t>(i + kBlurRadius)] = std::exp(-float(i * i) / 32.0f);
      sum += g[static_cast<size_t>(i + kBlurRadius)];
    }
    for (float& w : g) w /= sum;
    return g;
  }();
  return weights;
}

// Values first, then selects, so that the loop vectorises.
VISTRELLE_CPU_CLONES void filterRow(const float* const* changes, const float* __restrict current,
                                    const float* __restrict previous, FilterConstants k,
                                    float* __restrict out, int width) {
  for (int x = 0; x < width; ++x) {
    float sum = 0;
    float count = 0;
    for (int dy = 0; dy < 3; ++dy) {
      for (int dx = -1; dx <= 1; ++dx) {
        const float d = changes[dy][x + dx];
        const bool ok = d >= 0.0f;
        sum += ok ? d : 0.0f;
        count += ok ? 1.0f : 0.0f;
      }
    }
    const float cv = current[x];
    const float pv = previous[x];
    const float mean = sum / std::max(count, 1.0f);
    const float m = count > 0.0f ? mean : 0.0f;
    const float gradual = k.a + (1.0f - k.a) * m / (m + k.eta);
    const float w = m > k.sceneChangeThresh ? 1.0f : gradual;
    const float blended = pv + w * (cv - pv);
    const bool currentOk = std::fabs(cv) <= kLargest;
    const bool previousOk = std::fabs(pv) <= kLargest;
    const float result = currentOk ? (previousOk ? blended : cv) : pv;
    out[x] = roundToHalfBranchless(result);
  }
}

size_t smoothScratchFloats(int width, int radius, int rows) {
  return 4 * accumulatorStride(width, radius) * static_cast<size_t>(rows) + 8;
}

void smoothRows(const SmoothingRows& s, int begin, int end, float* scratch, bool simd) {
#if defined(__x86_64__)
  if (simd) {
    smoothRowsAvx2(s, begin, end, scratch);
    return;
  }
#else
  (void)simd;
#endif
  const float* rows[2 * 8 + 1];
  for (int y = begin; y < end; ++y) {
    for (int j = -s.radius; j <= s.radius; ++j) {
      rows[j + s.radius] =
          s.padded + static_cast<size_t>(std::clamp(y + j, 0, s.height - 1)) * s.paddedStride;
    }
    smoothRowPortable(rows, s.radius, s.spatial, s.rangeFactor,
                      s.original + s.originalStride * static_cast<size_t>(y),
                      s.out + s.outStride * static_cast<size_t>(y - begin), scratch, s.width);
  }
}

void stereoRow(const float* src, float* reach, float* outL, float* outR, int width, float kw,
               int steps, bool simd) {
#if defined(__x86_64__)
  if (simd) {
    stereoRowAvx2(src, reach, outL, outR, width, kw, steps);
    return;
  }
#else
  (void)simd;
#endif
  stereoRowPortable(src, reach, outL, outR, width, kw, steps);
}

VISTRELLE_CPU_CLONES void dilateRow(const float* const* rows, float* __restrict dst, int width) {
  const float* r0 = rows[0];
  const float* r1 = rows[1];
  const float* r2 = rows[2];
  const float* r3 = rows[3];
  const float* r4 = rows[4];
  for (int x = 0; x < width; ++x) {
    float m = r2[x];
    m = std::max(m, r2[x - 2]);
    m = std::max(m, r2[x - 1]);
    m = std::max(m, r2[x + 1]);
    m = std::max(m, r2[x + 2]);
    m = std::max(m, r1[x - 1]);
    m = std::max(m, r1[x]);
    m = std::max(m, r1[x + 1]);
    m = std::max(m, r3[x - 1]);
    m = std::max(m, r3[x]);
    m = std::max(m, r3[x + 1]);
    m = std::max(m, r0[x]);
    m = std::max(m, r4[x]);
    dst[x] = m;
  }
}

void blurRow(const float* src, float* dst, int width, bool simd) {
#if defined(__x86_64__)
  if (simd) {
    blurRowAvx2(src, blurWeights().data(), dst, width);
    return;
  }
#else
  (void)simd;
#endif
  blurRowPortable(src, blurWeights().data(), dst, width);
}

void blurColumn(const float* const* sources, float* dst, int width, bool simd) {
#if defined(__x86_64__)
  if (simd) {
    blurColumnAvx2(sources, blurWeights().data(), dst, width);
    return;
  }
#else
  (void)simd;
#endif
  blurColumnPortable(sources, blurWeights().data(), dst, width);
}

}  // namespace vistrelle::ai3d::cpu
