#include "ai3d/kernels/cpu/eye_row_kernels.h"

#include <cmath>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#define VISTRELLE_AVX2 [[gnu::target("avx2,fma,f16c")]]
#endif

namespace vistrelle::ai3d::cpu {
namespace {

// GL_LINEAR with clamp-to-edge along x at us: the two taps and the weight
// of the second. Written as the AVX2 lanes compute it (min then max, so
// that a NaN lands on the right edge in both), for the same bits.
struct Taps {
  int first;
  int second;
  int w15;
};

inline Taps frameTaps(float us, int frameWidth) {
  float clamped = us < 1.0f ? us : 1.0f;
  clamped = clamped > 0.0f ? clamped : 0.0f;
  const float position = clamped * float(frameWidth) - 0.5f;
  const float whole = std::floor(position);
  const int w15 = static_cast<int>(std::nearbyint((position - whole) * 32768.0f));
  int first = static_cast<int>(whole);
  int second = first + 1;
  const int last = frameWidth - 1;
  first = first < 0 ? 0 : (first > last ? last : first);
  second = second < 0 ? 0 : (second > last ? last : second);
  return {first, second, w15 > 32767 ? 32767 : w15};
}

// a + round((b - a) * w / 32768), as vpmulhrsw rounds.
inline uint32_t lerpChannel(uint32_t a, uint32_t b, int w15) {
  const int d = int(b) - int(a);
  return static_cast<uint32_t>(int(a) + ((d * w15 + 16384) >> 15));
}

inline uint32_t lerpPixel(uint32_t a, uint32_t b, int w15) {
  uint32_t out = 0;
  for (int c = 0; c < 32; c += 8) {
    out |= lerpChannel((a >> c) & 0xff, (b >> c) & 0xff, w15) << c;
  }
  return out;
}

inline float mapAt(const EyeRow& row, int x) {
  const float a = row.map[row.columns.mapA[x]];
  const float b = row.map[row.columns.mapB[x]];
  return a + row.columns.mapFx[x] * (b - a);
}

inline uint32_t shadePixel(const EyeRow& row, int x) {
  float us = row.columns.u[x];
  if (row.map != nullptr) us = us + row.signedDepth * mapAt(row, x);
  const Taps taps = frameTaps(us, row.frameWidth);
  uint32_t a, b;
  std::memcpy(&a, row.frame + 4 * taps.first, 4);
  std::memcpy(&b, row.frame + 4 * taps.second, 4);
  return lerpPixel(a, b, taps.w15) | 0xff000000u;
}

#if defined(__x86_64__)

VISTRELLE_AVX2 inline __m256i lerpPixels(__m256i a, __m256i b, __m256i w15) {
  // Channels to 16 bits: pixels 0, 1, 4, 5 in lo and 2, 3, 6, 7 in hi (the
  // unpacks work within 128-bit lanes; the pack at the end undoes it).
  const __m256i zero = _mm256_setzero_si256();
  const __m256i aLo = _mm256_unpacklo_epi8(a, zero), aHi = _mm256_unpackhi_epi8(a, zero);
  const __m256i bLo = _mm256_unpacklo_epi8(b, zero), bHi = _mm256_unpackhi_epi8(b, zero);
  const __m256i wLo =
      _mm256_shuffle_epi8(w15, _mm256_setr_epi8(0, 1, 0, 1, 0, 1, 0, 1, 4, 5, 4, 5, 4, 5, 4, 5, 0,
                                                1, 0, 1, 0, 1, 0, 1, 4, 5, 4, 5, 4, 5, 4, 5));
  const __m256i wHi = _mm256_shuffle_epi8(
      w15, _mm256_setr_epi8(8, 9, 8, 9, 8, 9, 8, 9, 12, 13, 12, 13, 12, 13, 12, 13, 8, 9, 8, 9, 8,
                            9, 8, 9, 12, 13, 12, 13, 12, 13, 12, 13));
  const __m256i lo = _mm256_add_epi16(aLo, _mm256_mulhrs_epi16(_mm256_sub_epi16(bLo, aLo), wLo));
  const __m256i hi = _mm256_add_epi16(aHi, _mm256_mulhrs_epi16(_mm256_sub_epi16(bHi, aHi), wHi));
  return _mm256_packus_epi16(lo, hi);
}

VISTRELLE_AVX2 void shadeEyeRowAvx2(const EyeRow& row, int x0, int x1) {
  const __m256 one = _mm256_set1_ps(1.0f);
  const __m256 zero = _mm256_setzero_ps();
  const __m256 width = _mm256_set1_ps(float(row.frameWidth));
  const __m256 half = _mm256_set1_ps(0.5f);
  const __m256 scale = _mm256_set1_ps(32768.0f);
  const __m256 depth = _mm256_set1_ps(row.signedDepth);
  const __m256i last = _mm256_set1_epi32(row.frameWidth - 1);
  const __m256i maxWeight = _mm256_set1_epi32(32767);
  const __m256i opaque = _mm256_set1_epi32(static_cast<int>(0xff000000u));
  const auto* frame = reinterpret_cast<const int*>(row.frame);
  int x = x0;
  // Scalar up to a 32-byte boundary, then streaming stores of 8 pixels.
  const bool aligned4 = (reinterpret_cast<uintptr_t>(row.out) & 3) == 0;
  if (aligned4) {
    for (; x < x1 && (reinterpret_cast<uintptr_t>(row.out + x) & 31) != 0; ++x) {
      row.out[x] = shadePixel(row, x);
    }
  }
  for (; x + 8 <= x1; x += 8) {
    __m256 us = _mm256_loadu_ps(row.columns.u + x);
    if (row.map != nullptr) {
      const __m256i ia = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row.columns.mapA + x));
      const __m256i ib = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row.columns.mapB + x));
      // The map is narrower than the view: eight columns read a few map
      // values next to each other, taken from one load by a permute (a
      // gather costs several times as much). The map row has slack to read.
      __m256 ma, mb;
      const int base = row.columns.mapA[x];
      if (row.columns.mapB[x + 7] - base <= 7) {
        const __m256 block = _mm256_loadu_ps(row.map + base);
        const __m256i origin = _mm256_set1_epi32(base);
        ma = _mm256_permutevar8x32_ps(block, _mm256_sub_epi32(ia, origin));
        mb = _mm256_permutevar8x32_ps(block, _mm256_sub_epi32(ib, origin));
      } else {
        ma = _mm256_i32gather_ps(row.map, ia, 4);
        mb = _mm256_i32gather_ps(row.map, ib, 4);
      }
      const __m256 m = _mm256_add_ps(
          ma, _mm256_mul_ps(_mm256_loadu_ps(row.columns.mapFx + x), _mm256_sub_ps(mb, ma)));
      us = _mm256_add_ps(us, _mm256_mul_ps(depth, m));
    }
    const __m256 clamped = _mm256_max_ps(_mm256_min_ps(us, one), zero);
    const __m256 position = _mm256_sub_ps(_mm256_mul_ps(clamped, width), half);
    const __m256 whole = _mm256_floor_ps(position);
    const __m256i w15 = _mm256_min_epi32(
        _mm256_cvtps_epi32(_mm256_mul_ps(_mm256_sub_ps(position, whole), scale)), maxWeight);
    const __m256i first = _mm256_cvtps_epi32(whole);
    const __m256i second = _mm256_add_epi32(first, _mm256_set1_epi32(1));
    const __m256i i0 = _mm256_max_epi32(_mm256_min_epi32(first, last), _mm256_setzero_si256());
    const __m256i i1 = _mm256_max_epi32(_mm256_min_epi32(second, last), _mm256_setzero_si256());
    // Near a 1:1 scale the eight taps lie within 16 pixels of each other
    // (the shift changes slowly): two loads and permutes instead of gathers.
    __m256i a, b;
    const int base = _mm256_cvtsi256_si32(i0) - 3;
    const __m256i origin = _mm256_set1_epi32(base);
    const __m256i r0 = _mm256_sub_epi32(i0, origin);
    const __m256i r1 = _mm256_sub_epi32(i1, origin);
    // The second tap is the first or the one after it: r0 in [0, 14] keeps
    // both within the 16 loaded.
    const __m256i limit = _mm256_set1_epi32(14);
    const bool near =
        base >= 0 && base + 16 <= row.frameWidth &&
        _mm256_movemask_epi8(_mm256_cmpeq_epi32(_mm256_min_epu32(r0, limit), r0)) == -1;
    if (near) {
      const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(frame + base));
      const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(frame + base + 8));
      const __m256i seven = _mm256_set1_epi32(7);
      a = _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(lo, r0),
                             _mm256_permutevar8x32_epi32(hi, r0), _mm256_cmpgt_epi32(r0, seven));
      b = _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(lo, r1),
                             _mm256_permutevar8x32_epi32(hi, r1), _mm256_cmpgt_epi32(r1, seven));
    } else {
      a = _mm256_i32gather_epi32(frame, i0, 4);
      b = _mm256_i32gather_epi32(frame, i1, 4);
    }
    const __m256i pixels = _mm256_or_si256(lerpPixels(a, b, w15), opaque);
    if (aligned4) {
      _mm256_stream_si256(reinterpret_cast<__m256i*>(row.out + x), pixels);
    } else {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(row.out + x), pixels);
    }
  }
  for (; x < x1; ++x) row.out[x] = shadePixel(row, x);
}

VISTRELLE_AVX2 void blendFrameRowsAvx2(const uint8_t* top, const uint8_t* bottom, int w15,
                                       int pixels, uint8_t* out) {
  const __m256i weight = _mm256_set1_epi16(static_cast<int16_t>(w15));
  const __m256i zero = _mm256_setzero_si256();
  int x = 0;
  for (; x + 8 <= pixels; x += 8) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(top + 4 * x));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bottom + 4 * x));
    const __m256i aLo = _mm256_unpacklo_epi8(a, zero), aHi = _mm256_unpackhi_epi8(a, zero);
    const __m256i bLo = _mm256_unpacklo_epi8(b, zero), bHi = _mm256_unpackhi_epi8(b, zero);
    const __m256i lo =
        _mm256_add_epi16(aLo, _mm256_mulhrs_epi16(_mm256_sub_epi16(bLo, aLo), weight));
    const __m256i hi =
        _mm256_add_epi16(aHi, _mm256_mulhrs_epi16(_mm256_sub_epi16(bHi, aHi), weight));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * x), _mm256_packus_epi16(lo, hi));
  }
  for (int i = 4 * x; i < 4 * pixels; ++i) out[i] = uint8_t(lerpChannel(top[i], bottom[i], w15));
}

VISTRELLE_AVX2 void resampleMapRowAvx2(const float* top, const float* bottom, float fy, int width,
                                       float* out) {
  const __m256 weight = _mm256_set1_ps(fy);
  int x = 0;
  for (; x + 8 <= width; x += 8) {
    const __m256 a = _mm256_loadu_ps(top + x);
    const __m256 b = _mm256_loadu_ps(bottom + x);
    _mm256_storeu_ps(out + x, _mm256_add_ps(a, _mm256_mul_ps(weight, _mm256_sub_ps(b, a))));
  }
  for (; x < width; ++x) out[x] = top[x] + fy * (bottom[x] - top[x]);
}

VISTRELLE_AVX2 void fillBlackAvx2(uint32_t* out, int count) {
  const __m256i black = _mm256_set1_epi32(static_cast<int>(0xff000000u));
  int x = 0;
  if ((reinterpret_cast<uintptr_t>(out) & 3) == 0) {
    for (; x < count && (reinterpret_cast<uintptr_t>(out + x) & 31) != 0; ++x) out[x] = 0xff000000u;
    for (; x + 8 <= count; x += 8) {
      _mm256_stream_si256(reinterpret_cast<__m256i*>(out + x), black);
    }
  }
  for (; x < count; ++x) out[x] = 0xff000000u;
}

#endif

}  // namespace

int lerpWeight15(float fraction) {
  const int w = static_cast<int>(std::nearbyint(fraction * 32768.0f));
  return w < 0 ? 0 : (w > 32768 ? 32768 : w);
}

void resampleMapRow(const float* top, const float* bottom, float fy, int width, float* out,
                    bool simd) {
#if defined(__x86_64__)
  if (simd) {
    resampleMapRowAvx2(top, bottom, fy, width, out);
    return;
  }
#else
  (void)simd;
#endif
  for (int x = 0; x < width; ++x) out[x] = top[x] + fy * (bottom[x] - top[x]);
}

void blendFrameRows(const uint8_t* top, const uint8_t* bottom, int w15, int pixels, uint8_t* out,
                    bool simd) {
#if defined(__x86_64__)
  if (simd) {
    blendFrameRowsAvx2(top, bottom, w15, pixels, out);
    return;
  }
#else
  (void)simd;
#endif
  for (int i = 0; i < 4 * pixels; ++i) out[i] = uint8_t(lerpChannel(top[i], bottom[i], w15));
}

void shadeEyeRow(const EyeRow& row, int x0, int x1, bool simd) {
#if defined(__x86_64__)
  if (simd) {
    shadeEyeRowAvx2(row, x0, x1);
    return;
  }
#else
  (void)simd;
#endif
  for (int x = x0; x < x1; ++x) row.out[x] = shadePixel(row, x);
}

void fillBlack(uint32_t* out, int count, bool simd) {
#if defined(__x86_64__)
  if (simd) {
    fillBlackAvx2(out, count);
    return;
  }
#else
  (void)simd;
#endif
  for (int x = 0; x < count; ++x) out[x] = 0xff000000u;
}

void finishStores(bool simd) {
#if defined(__x86_64__)
  if (simd) _mm_sfence();
#else
  (void)simd;
#endif
}

}  // namespace vistrelle::ai3d::cpu
