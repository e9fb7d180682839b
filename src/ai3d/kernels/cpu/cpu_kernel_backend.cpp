#include "ai3d/kernels/cpu/cpu_kernel_backend.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <stdexcept>
#include <string>

#include "ai3d/kernels/ai3d_kernel_library.h"
#include "ai3d/kernels/half_float.h"
#include "ai3d/kernels/kernel_map_checks.h"

// AVX2 and baseline copies chosen at load time.  ThreadSanitizer's runtime
// is not up yet when the loader runs the ifunc resolvers, so sanitizer builds
// keep the baseline copy only.
#if defined(__SANITIZE_THREAD__)
#define VISTRELLE_CPU_CLONES
#else
#define VISTRELLE_CPU_CLONES [[gnu::target_clones("avx2", "default")]]
#endif

namespace vistrelle::ai3d {
namespace {

constexpr int kBlurRadius = 12;

std::array<float, 2 * kBlurRadius + 1> blurWeights() {
  std::array<float, 2 * kBlurRadius + 1> g{};
  float sum = 0;
  for (int i = -kBlurRadius; i <= kBlurRadius; ++i) {
    g[static_cast<size_t>(i + kBlurRadius)] = std::exp(-float(i * i) / 32.0f);
    sum += g[static_cast<size_t>(i + kBlurRadius)];
  }
  for (float& w : g) w /= sum;
  return g;
}

constexpr float kLargest = std::numeric_limits<float>::max();
// Stands in for a non-finite depth in the smoothing: far from every half.
constexpr float kFar = 1e18f;

// exp(x) for x <= 0 from a polynomial for 2^f, in plain float and int
// arithmetic that vectorises (no table, no library call). Relative error
// about 1e-5 down to exp(-80); results under 2^-126 flush to 2^-126 or less.
inline float expNonPositive(float x) {
  const float scaled = x * 1.44269504f;
  const float t = scaled < -126.0f ? -126.0f : scaled;
  const int whole = static_cast<int>(t);  // toward zero: t <= 0 gives ceil
  const int n = whole - (float(whole) > t ? 1 : 0);
  const float f = t - float(n);  // [0, 1)
  float p = 1.53533054e-4f;
  p = p * f + 1.33988010e-3f;
  p = p * f + 9.61844814e-3f;
  p = p * f + 5.55033010e-2f;
  p = p * f + 2.40226860e-1f;
  p = p * f + 6.93147182e-1f;
  p = p * f + 1.0f;
  return p * std::bit_cast<float>(static_cast<uint32_t>(n + 127) << 23);
}

// Floor for values above -1, without a library call.
inline int floorAboveMinusOne(float v) {
  return static_cast<int>(v + 1.0f) - 1;
}

// One tap of the smoothing for a whole row, in vector lanes. Non-finite
// depths arrive replaced by kFar, whose weight against any real depth is
// below 2^-126: they add nothing a half could show.
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

struct FilterConstants {
  float a;  // the blend for this frame's dt
  float eta;
  float sceneChangeThresh;
};

// One row of the temporal filter from the padded |C - P| rows above, at and
// below it (-1 marks a non-finite change). Values first, then selects.
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

// One row of both eye maps: the row's own value, then for each step j the
// value j pixels away where its reach covers j. Exact: compare and max only.
VISTRELLE_CPU_CLONES void stereoRow(const float* __restrict src, float* __restrict reach,
                                    float* __restrict outL, float* __restrict outR, int width,
                                    float kw, int steps) {
  for (int x = 0; x < width; ++x) {
    const float shift = kw * src[x];
    reach[x] = shift + 0.5f;
    outL[x] = src[x];
    outR[x] = src[x];
  }
  const int maxStep = std::min(steps, width - 1);
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

// The horizontal blur of one padded row into f32, taps in order -12..12.
VISTRELLE_CPU_CLONES void blurRow(const float* __restrict src, const float* __restrict g,
                                  float* __restrict dst, int width) {
  for (int x = 0; x < width; ++x) dst[x] = g[0] * src[x - kBlurRadius];
  for (int i = -kBlurRadius + 1; i <= kBlurRadius; ++i) {
    const float w = g[i + kBlurRadius];
    for (int x = 0; x < width; ++x) dst[x] += w * src[x + i];
  }
}

// The vertical blur of one row from its 25 source rows, back to half.
VISTRELLE_CPU_CLONES void blurColumn(const float* const* sources, const float* __restrict g,
                                     float* __restrict dst, int width) {
  const float* first = sources[0];
  for (int x = 0; x < width; ++x) dst[x] = g[0] * first[x];
  for (int i = 1; i <= 2 * kBlurRadius; ++i) {
    const float* __restrict src = sources[i];
    const float w = g[i];
    for (int x = 0; x < width; ++x) dst[x] += w * src[x];
  }
  for (int x = 0; x < width; ++x) dst[x] = roundToHalfBranchless(dst[x]);
}

// One row of an eye view: what stays fixed along the row.
struct EyeRow {
  const float* u;       // per column
  const int* mapA;      // per column: left map column, clamped
  const int* mapB;      // per column: right map column, clamped
  const float* mapFx;   // per column
  const float* mapTop;  // map rows around v
  const float* mapBottom;
  float mapFy;
  float signedDepth;
  int frameWidth;
  const float* frame;  // the frame row at v, blended vertically: 4 floats a pixel
  uint32_t* out;
};

// Blends two BGRA rows with weight fy into floats, in vector lanes.
void blendFrameRows(const uint8_t* __restrict top, const uint8_t* __restrict bottom, float fy,
                    int count, float* __restrict out) {
  for (int i = 0; i < count; ++i) {
    const float t = float(top[i]);
    out[i] = t + fy * (float(bottom[i]) - t);
  }
}

// The row's fixed values live in locals so that the stores cannot alias
// them; the vertical half of the frame's bilinear tap is done per row.
template <bool kShift>
void shadeEyeRow(const EyeRow& row, int x0, int x1) {
  const float* __restrict u = row.u;
  const int* __restrict mapA = row.mapA;
  const int* __restrict mapB = row.mapB;
  const float* __restrict mapFx = row.mapFx;
  const float* __restrict mapTop = row.mapTop;
  const float* __restrict mapBottom = row.mapBottom;
  const float* __restrict frame = row.frame;
  uint32_t* __restrict out = row.out;
  const float mapFy = row.mapFy, depth = row.signedDepth;
  const int frameWidth = row.frameWidth, lastX = row.frameWidth - 1;
  for (int x = x0; x < x1; ++x) {
    float us = u[x];
    if constexpr (kShift) {
      const float fx = mapFx[x];
      const float a0 = mapTop[mapA[x]], b0 = mapTop[mapB[x]];
      const float a1 = mapBottom[mapA[x]], b1 = mapBottom[mapB[x]];
      const float upper = a0 + fx * (b0 - a0);
      const float lower = a1 + fx * (b1 - a1);
      const float m = upper + mapFy * (lower - upper);
      const float shifted = us + depth * m;
      us = shifted < 0.0f ? 0.0f : (shifted > 1.0f ? 1.0f : shifted);
    }
    const float fxPos = us * float(frameWidth) - 0.5f;
    const int fx0 = floorAboveMinusOne(fxPos);
    const float fx = fxPos - float(fx0);
    const float* a = frame + (fx0 < 0 ? 0 : fx0) * 4;
    const float* b = frame + (fx0 + 1 > lastX ? lastX : fx0 + 1) * 4;
    const auto channel = [&](int c) {
      const float value = a[c] + fx * (b[c] - a[c]);
      return static_cast<uint32_t>(static_cast<int>(value + 0.5f)) << (8 * c);
    };
    out[x] = 0xff000000u | channel(0) | channel(1) | channel(2);
  }
}

}  // namespace

CpuKernelBackend::CpuKernelBackend(unsigned threads) : rows_(threads) {}

std::string CpuKernelBackend::description() const {
  return "CPU: " + std::to_string(rows_.threadCount()) + " threads";
}

const gpu::KernelLibrary& CpuKernelBackend::library() const {
  return ai3dKernelLibrary();
}

CpuMap& CpuKernelBackend::own(KernelMap& map) const {
  auto* cpu = dynamic_cast<CpuMap*>(&map);
  if (cpu == nullptr || cpu->owner() != this) {
    throw std::invalid_argument("map does not belong to this CPU back-end");
  }
  return *cpu;
}

const CpuMap& CpuKernelBackend::own(const KernelMap& map) const {
  return own(const_cast<KernelMap&>(map));
}

std::shared_ptr<KernelMap> CpuKernelBackend::acquireMap(int width, int height) {
  if (width <= 0 || height <= 0) {
    throw std::invalid_argument("map size must be positive, not " + std::to_string(width) + "x" +
                                std::to_string(height));
  }
  std::lock_guard lock(mutex_);
  std::shared_ptr<CpuMap>* spare = nullptr;
  for (auto& entry : pool_) {
    // Only the pool holds it: free. Its contents are only ever touched by
    // this back-end under its lock, which orders the last use before reuse.
    if (entry.use_count() != 1) continue;
    if (entry->width() == width && entry->height() == height) {
      return entry;
    }
    spare = &entry;
  }
  // A free map of another size is replaced rather than kept beside the new one.
  auto map = std::make_shared<CpuMap>(this, width, height);
  if (spare != nullptr) {
    *spare = map;
  } else {
    pool_.push_back(map);
  }
  return map;
}

void CpuKernelBackend::upload(const DepthMapView& source, KernelMap& target) {
  CpuMap& out = own(target);
  if (source.width != out.width() || source.height != out.height()) {
    throw std::invalid_argument(
        "upload: source " + std::to_string(source.width) + "x" + std::to_string(source.height) +
        " into a " + std::to_string(out.width()) + "x" + std::to_string(out.height()) + " map");
  }
  if (!isDepthFormat(source.format)) {
    throw std::invalid_argument(std::string("upload: format ") + mapFormatName(source.format) +
                                " refused, depth maps are f16 or f32");
  }
  std::lock_guard lock(mutex_);
  const int width = out.width();
  rows_.run(out.height(), [&](int begin, int end) {
    for (int y = begin; y < end; ++y) {
      float* dst = out.row(y);
      if (source.format == MapFormat::Float16) {
        const auto* src = static_cast<const uint16_t*>(source.row(y));
        for (int x = 0; x < width; ++x) dst[x] = halfToFloat(src[x]);
      } else {
        const auto* src = static_cast<const float*>(source.row(y));
        for (int x = 0; x < width; ++x) dst[x] = roundToHalf(src[x]);
      }
    }
  });
}

void CpuKernelBackend::read(const KernelMap& source, std::span<uint16_t> target) {
  const CpuMap& in = own(source);
  const size_t count = static_cast<size_t>(in.width()) * static_cast<size_t>(in.height());
  if (target.size() != count) {
    throw std::invalid_argument("read: target holds " + std::to_string(target.size()) +
                                " values, the map " + std::to_string(count));
  }
  std::lock_guard lock(mutex_);
  const size_t width = static_cast<size_t>(in.width());
  rows_.run(in.height(), [&](int begin, int end) {
    for (size_t i = size_t(begin) * width; i < size_t(end) * width; ++i) {
      target[i] = floatToHalf(in.data()[i]);
    }
  });
}

void CpuKernelBackend::copy(const KernelMap& source, KernelMap& target) {
  requireSameSize(source, target, "copy");
  const CpuMap& in = own(source);
  CpuMap& out = own(target);
  if (&in == &out) return;
  std::lock_guard lock(mutex_);
  std::memcpy(out.data(), in.data(),
              sizeof(float) * static_cast<size_t>(in.width()) * static_cast<size_t>(in.height()));
}

void CpuKernelBackend::dynamicDepthFilter(const KernelMap& current, const KernelMap& previous,
                                          KernelMap& out, const DynamicFilterParams& params) {
  requireSameSize(current, previous, "dynamicDepthFilter");
  requireSameSize(current, out, "dynamicDepthFilter");
  requireDistinct({&current, &out}, "dynamicDepthFilter");
  requireDistinct({&previous, &out}, "dynamicDepthFilter");
  const CpuMap& c = own(current);
  const CpuMap& p = own(previous);
  CpuMap& o = own(out);
  std::lock_guard lock(mutex_);
  // The 3x3 mean change reads |C - P| nine times: computed once per pixel.
  paddedA_.fillAbsDifference(c, p, 1, rows_);

  const float keep = 1.0f - std::clamp(params.alpha, 0.0f, 1.0f);
  const float a =
      keep <= 0.0f ? 1.0f : 1.0f - std::pow(keep, std::clamp(params.dt, 1.0f, 250.0f) / 16.0f);
  const FilterConstants k{a, std::max(params.eta, 1e-6f), params.sceneChangeThresh};
  const int width = c.width();
  rows_.run(c.height(), [&](int begin, int end) {
    for (int y = begin; y < end; ++y) {
      const float* changes[3] = {paddedA_.row(y - 1), paddedA_.row(y), paddedA_.row(y + 1)};
      filterRow(changes, c.row(y), p.row(y), k, o.row(y), width);
    }
  });
}

void CpuKernelBackend::depthSmoothing(const KernelMap& depth, KernelMap& smoothed,
                                      const StereoParams& params) {
  requireSameSize(depth, smoothed, "depthSmoothing");
  requireDistinct({&depth, &smoothed}, "depthSmoothing");
  const CpuMap& d = own(depth);
  CpuMap& s = own(smoothed);
  std::lock_guard lock(mutex_);
  const int radius = std::clamp(params.radius, 0, 8);
  const float sigmaSpatial = std::max(params.sigmaSpatial, 1e-6f);
  const float sigmaRange = std::max(params.sigmaRange, 1e-6f);
  const float rangeFactor = -1.0f / (2.0f * sigmaRange * sigmaRange);
  paddedA_.fill(d, radius, rows_, kFar);
  const int width = d.width();
  const size_t needed = static_cast<size_t>(width) * static_cast<size_t>(d.height());
  if (scratch_.size() < needed) scratch_.resize(needed);

  rows_.run(d.height(), [&](int begin, int end) {
    for (int y = begin; y < end; ++y) {
      // Sums build up in the output row, weights in the scratch row; tap by
      // tap over the whole row so that the inner loop runs in vector lanes.
      float* sum = s.row(y);
      float* weights = scratch_.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
      const float* centre = paddedA_.row(y);
      std::fill(sum, sum + width, 0.0f);
      std::fill(weights, weights + width, 0.0f);
      for (int j = -radius; j <= radius; ++j) {
        const float* row = paddedA_.row(y + j);
        for (int i = -radius; i <= radius; ++i) {
          const float spatial = -float(i * i + j * j) / (2.0f * sigmaSpatial * sigmaSpatial);
          const float* q = row + i;
          accumulateTap(q, centre, spatial, rangeFactor, width, sum, weights);
        }
      }
      const float* original = d.row(y);
      for (int x = 0; x < width; ++x) {
        const float c = original[x];
        const float mean = sum[x] / weights[x];
        sum[x] = roundToHalfBranchless(std::fabs(c) <= kLargest ? mean : c);
      }
    }
  });
}

void CpuKernelBackend::stereoGeneration(const KernelMap& smoothed, KernelMap& left,
                                        KernelMap& right, const StereoParams& params) {
  requireSameSize(smoothed, left, "stereoGeneration");
  requireSameSize(smoothed, right, "stereoGeneration");
  requireDistinct({&smoothed, &left, &right}, "stereoGeneration");
  const CpuMap& s = own(smoothed);
  CpuMap& l = own(left);
  CpuMap& r = own(right);
  std::lock_guard lock(mutex_);
  const float k = std::clamp(params.depthValue, 0.0f, 0.05f);
  const float kw = k * params.width;
  const float minimumReach = kw + 0.5f;
  const int steps =
      std::max(std::clamp(params.depthSteps, 0, 64), static_cast<int>(std::ceil(minimumReach)));
  const int width = s.width();
  const size_t needed = static_cast<size_t>(width) * static_cast<size_t>(s.height());
  if (scratch_.size() < needed) scratch_.resize(needed);
  rows_.run(s.height(), [&](int begin, int end) {
    for (int y = begin; y < end; ++y) {
      const float* src = s.row(y);
      float* reach = scratch_.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
      stereoRow(src, reach, l.row(y), r.row(y), width, kw, steps);
    }
  });
}

void CpuKernelBackend::diskDilate(const KernelMap& source, KernelMap& target) {
  requireSameSize(source, target, "diskDilate");
  requireDistinct({&source, &target}, "diskDilate");
  const CpuMap& in = own(source);
  CpuMap& out = own(target);
  std::lock_guard lock(mutex_);
  paddedA_.fill(in, 2, rows_);
  const int width = in.width();
  rows_.run(in.height(), [&](int begin, int end) {
    for (int y = begin; y < end; ++y) {
      const float* r0 = paddedA_.row(y - 2);
      const float* r1 = paddedA_.row(y - 1);
      const float* r2 = paddedA_.row(y);
      const float* r3 = paddedA_.row(y + 1);
      const float* r4 = paddedA_.row(y + 2);
      float* dst = out.row(y);
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
  });
}

void CpuKernelBackend::gaussianBlur(const KernelMap& source, KernelMap& target) {
  requireSameSize(source, target, "gaussianBlur");
  requireDistinct({&source, &target}, "gaussianBlur");
  const CpuMap& in = own(source);
  CpuMap& out = own(target);
  std::lock_guard lock(mutex_);
  const auto g = blurWeights();
  const int width = in.width();
  const int height = in.height();
  const size_t needed = static_cast<size_t>(width) * static_cast<size_t>(height);
  if (scratch_.size() < needed) scratch_.resize(needed);
  float* rowsPass = scratch_.data();
  // Each thread pads the row it blurs into a row of its own: no separate
  // padding pass over the map.
  const size_t paddedWidth = static_cast<size_t>(width + 2 * kBlurRadius);
  const size_t rowFloats = paddedWidth * rows_.threadCount();
  if (paddedRows_.size() < rowFloats) paddedRows_.resize(rowFloats);
  rows_.run(height, [&](int begin, int end, unsigned slot) {
    float* padded = paddedRows_.data() + paddedWidth * slot;
    for (int y = begin; y < end; ++y) {
      const float* src = in.row(y);
      std::fill(padded, padded + kBlurRadius, src[0]);
      std::memcpy(padded + kBlurRadius, src, sizeof(float) * static_cast<size_t>(width));
      std::fill(padded + kBlurRadius + width, padded + paddedWidth, src[width - 1]);
      blurRow(padded + kBlurRadius, g.data(),
              rowsPass + static_cast<size_t>(y) * static_cast<size_t>(width), width);
    }
  });
  rows_.run(height, [&](int begin, int end) {
    for (int y = begin; y < end; ++y) {
      const float* sources[2 * kBlurRadius + 1];
      for (int i = -kBlurRadius; i <= kBlurRadius; ++i) {
        const int sy = std::clamp(y + i, 0, height - 1);
        sources[i + kBlurRadius] = rowsPass + static_cast<size_t>(sy) * static_cast<size_t>(width);
      }
      blurColumn(sources, g.data(), out.row(y), width);
    }
  });
}

void CpuKernelBackend::drawEyes(const BgraImageView& frame, const KernelMap& left,
                                const KernelMap& right, std::span<const EyeDraw> draws,
                                const MutableBgraImageView& target) {
  const CpuMap& l = own(left);
  const CpuMap& r = own(right);
  if (frame.data == nullptr || frame.width <= 0 || frame.height <= 0) {
    throw std::invalid_argument("drawEyes: no captured frame");
  }
  for (const EyeDraw& draw : draws) {
    if (draw.x < 0 || draw.y < 0 || draw.width <= 0 || draw.height <= 0 ||
        draw.x + draw.width > target.width || draw.y + draw.height > target.height) {
      throw std::invalid_argument("drawEyes: eye rectangle outside the target");
    }
  }
  std::lock_guard lock(mutex_);
  for (const EyeDraw& draw : draws) {
    const CpuMap* map = draw.signedDepth < 0 ? &l : draw.signedDepth > 0 ? &r : nullptr;
    drawEye(frame, map, draw, target);
  }
}

void CpuKernelBackend::drawEye(const BgraImageView& frame, const CpuMap* map, const EyeDraw& draw,
                               const MutableBgraImageView& target) {
  const EyeViewport vp = fitEyeViewport(float(frame.width), float(frame.height), float(draw.width),
                                        float(draw.height));
  // GL's coverage: centres in [x, x + w) across and, counting rows from the
  // bottom, in [y, y + h); top-down that is (y, y + h].
  const int x0 = std::clamp(int(std::ceil(vp.x - 0.5f)), 0, draw.width);
  const int x1 = std::clamp(int(std::ceil(vp.x + vp.width - 0.5f)), x0, draw.width);
  const int y0 = std::clamp(int(std::floor(vp.y - 0.5f)) + 1, 0, draw.height);
  const int y1 = std::clamp(int(std::floor(vp.y + vp.height - 0.5f)) + 1, y0, draw.height);

  const int mapWidth = map ? map->width() : 1;
  const int mapHeight = map ? map->height() : 1;
  const size_t columns = static_cast<size_t>(draw.width);
  if (columnU_.size() < columns) {
    columnU_.resize(columns);
    columnMapA_.resize(columns);
    columnMapB_.resize(columns);
    columnMapFx_.resize(columns);
  }
  for (int x = x0; x < x1; ++x) {
    const float u = (float(x) + 0.5f - vp.x) / vp.width;
    columnU_[static_cast<size_t>(x)] = u;
    const float mx = u * float(mapWidth) - 0.5f;
    const int mx0 = floorAboveMinusOne(mx);
    columnMapA_[static_cast<size_t>(x)] = std::clamp(mx0, 0, mapWidth - 1);
    columnMapB_[static_cast<size_t>(x)] = std::clamp(mx0 + 1, 0, mapWidth - 1);
    columnMapFx_[static_cast<size_t>(x)] = mx - float(mx0);
  }
  const float s = draw.signedDepth;
  const int frameWidth = frame.width;
  const int frameHeight = frame.height;

  const size_t frameFloats = size_t(rows_.threadCount()) * size_t(frameWidth) * 4;
  if (frameRows_.size() < frameFloats) frameRows_.resize(frameFloats);
  rows_.run(draw.height, [&](int begin, int end, unsigned slot) {
    for (int ly = begin; ly < end; ++ly) {
      uint8_t* out = target.row(draw.y + ly) + static_cast<size_t>(draw.x) * 4;
      if (ly < y0 || ly >= y1) {
        for (int x = 0; x < draw.width; ++x) {
          out[4 * x + 0] = out[4 * x + 1] = out[4 * x + 2] = 0;
          out[4 * x + 3] = 255;
        }
        continue;
      }
      for (int x = 0; x < x0; ++x) {
        out[4 * x + 0] = out[4 * x + 1] = out[4 * x + 2] = 0;
        out[4 * x + 3] = 255;
      }
      for (int x = x1; x < draw.width; ++x) {
        out[4 * x + 0] = out[4 * x + 1] = out[4 * x + 2] = 0;
        out[4 * x + 3] = 255;
      }
      const float v = (float(ly) + 0.5f - vp.y) / vp.height;
      // Frame rows and weight for this v (GL_LINEAR, clamp to edge).
      const float fyPos = v * float(frameHeight) - 0.5f;
      const int fy0 = floorAboveMinusOne(fyPos);
      const float fy = fyPos - float(fy0);
      const uint8_t* top = frame.row(std::clamp(fy0, 0, frameHeight - 1));
      const uint8_t* bottom = frame.row(std::clamp(fy0 + 1, 0, frameHeight - 1));
      float* blended = frameRows_.data() + size_t(slot) * size_t(frameWidth) * 4;
      blendFrameRows(top, bottom, fy, frameWidth * 4, blended);
      // Map rows and weight.
      const float* m0 = nullptr;
      const float* m1 = nullptr;
      float my = 0;
      if (map != nullptr) {
        const float myPos = v * float(mapHeight) - 0.5f;
        const int my0 = floorAboveMinusOne(myPos);
        my = myPos - float(my0);
        m0 = map->row(std::clamp(my0, 0, mapHeight - 1));
        m1 = map->row(std::clamp(my0 + 1, 0, mapHeight - 1));
      }
      EyeRow row{columnU_.data(),
                 columnMapA_.data(),
                 columnMapB_.data(),
                 columnMapFx_.data(),
                 m0,
                 m1,
                 my,
                 s,
                 frameWidth,
                 blended,
                 reinterpret_cast<uint32_t*>(out)};
      if (map != nullptr) {
        shadeEyeRow<true>(row, x0, x1);
      } else {
        shadeEyeRow<false>(row, x0, x1);
      }
    }
  });
}

}  // namespace vistrelle::ai3d
