#include "ai3d/kernels/cpu/cpu_kernel_backend.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

#include "ai3d/kernels/ai3d_kernel_library.h"
#include "ai3d/kernels/cpu/cpu_features.h"
#include "ai3d/kernels/cpu/eye_row_kernels.h"
#include "ai3d/kernels/cpu/map_row_kernels.h"
#include "ai3d/kernels/half_float.h"
#include "ai3d/kernels/kernel_map_checks.h"

namespace vistrelle::ai3d {
namespace {

using cpu::kBlurRadius;
using cpu::kBlurTaps;

constexpr float kLargest = std::numeric_limits<float>::max();
constexpr int kMaxSmoothingRadius = 8;
// Whole vectors may read this far past a scratch row's end.
constexpr size_t kRowSlack = 16;

// Floor for values above -1, without a library call.
inline int floorAboveMinusOne(float v) {
  return static_cast<int>(v + 1.0f) - 1;
}

inline const float* clampedRow(const std::vector<float>& plane, int y, int width, int height) {
  return plane.data() +
         static_cast<size_t>(std::clamp(y, 0, height - 1)) * static_cast<size_t>(width);
}

}  // namespace

CpuKernelBackend::CpuKernelBackend(unsigned threads, bool simd)
    : rows_(threads), simd_(simd && cpuHasAvx2()) {}

std::string CpuKernelBackend::description() const {
  return "CPU: " + std::to_string(rows_.threadCount()) + " threads" + (simd_ ? ", AVX2" : "");
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
  // A few microseconds of work: not worth waking the pool for.
  for (int y = 0; y < out.height(); ++y) {
    if (source.format == MapFormat::Float16) {
      cpu::fromHalves(static_cast<const uint16_t*>(source.row(y)), out.row(y), width, simd_);
    } else {
      cpu::roundToHalves(static_cast<const float*>(source.row(y)), out.row(y), width, simd_);
    }
  }
}

void CpuKernelBackend::read(const KernelMap& source, std::span<uint16_t> target) {
  const CpuMap& in = own(source);
  const size_t count = static_cast<size_t>(in.width()) * static_cast<size_t>(in.height());
  if (target.size() != count) {
    throw std::invalid_argument("read: target holds " + std::to_string(target.size()) +
                                " values, the map " + std::to_string(count));
  }
  std::lock_guard lock(mutex_);
  cpu::toHalves(in.data(), target.data(), static_cast<int>(count), simd_);
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
  const float keep = 1.0f - std::clamp(params.alpha, 0.0f, 1.0f);
  const float a =
      keep <= 0.0f ? 1.0f : 1.0f - std::pow(keep, std::clamp(params.dt, 1.0f, 250.0f) / 16.0f);
  const cpu::FilterConstants k{a, std::max(params.eta, 1e-6f), params.sceneChangeThresh};
  const int width = c.width();
  const int height = c.height();
  changes_.reshape(width, height, 1);
  // Pass 0: |C - P| once per pixel (the 3x3 mean reads it nine times), -1
  // where it is not finite. Pass 1: the blend.
  rows_.runPasses(2, height, 1, [&](int pass, int begin, int end, unsigned) {
    for (int y = begin; y < end; ++y) {
      if (pass == 0) {
        const float* ra = c.row(y);
        const float* rb = p.row(y);
        float* d = changes_.row(y);
        for (int x = 0; x < width; ++x) {
          const float change = std::fabs(ra[x] - rb[x]);
          d[x] = change <= kLargest ? change : -1.0f;
        }
        changes_.padRow(y);
      } else {
        const float* rows[3] = {changes_.clampedRow(y - 1), changes_.row(y),
                                changes_.clampedRow(y + 1)};
        cpu::filterRow(rows, c.row(y), p.row(y), k, o.row(y), width);
      }
    }
  });
}

CpuKernelBackend::Smoothing CpuKernelBackend::prepareSmoothing(const StereoParams& params) {
  const int radius = std::clamp(params.radius, 0, kMaxSmoothingRadius);
  const float sigmaSpatial = std::max(params.sigmaSpatial, 1e-6f);
  const float sigmaRange = std::max(params.sigmaRange, 1e-6f);
  const int side = 2 * radius + 1;
  spatial_.resize(static_cast<size_t>(side * side));
  for (int j = -radius; j <= radius; ++j) {
    for (int i = -radius; i <= radius; ++i) {
      spatial_[static_cast<size_t>((j + radius) * side + i + radius)] =
          -float(i * i + j * j) / (2.0f * sigmaSpatial * sigmaSpatial);
    }
  }
  return {radius, -1.0f / (2.0f * sigmaRange * sigmaRange), spatial_.data()};
}

void CpuKernelBackend::prepareSlots(int width, int chunkRows, int radius) {
  slotRow_ = static_cast<size_t>(width) + kRowSlack;
  const size_t chunk = slotRow_ * static_cast<size_t>(chunkRows);
  slotScratch_ = std::max(slotRow_, cpu::smoothScratchFloats(width, radius, chunkRows));
  slotStride_ = chunk + slotScratch_ + slotRow_ + (2 * kBlurRadius + slotRow_);
  const size_t needed = slotStride_ * rows_.threadCount();
  if (slotRows_.size() < needed) slotRows_.resize(needed);
}

CpuKernelBackend::SlotRows CpuKernelBackend::slot(unsigned index) {
  float* base = slotRows_.data() + slotStride_ * index;
  float* scratch = base + (slotStride_ - slotScratch_ - slotRow_ - 2 * kBlurRadius - slotRow_);
  return {base, scratch, scratch + slotScratch_, scratch + slotScratch_ + slotRow_ + kBlurRadius};
}

void CpuKernelBackend::padDepthRow(const CpuMap& depth, int y, int radius) {
  const float* in = depth.row(y);
  float* out = depthPad_.row(y);
  for (int x = 0; x < depth.width(); ++x) {
    // Non-finite depths weigh nothing a half could show.
    out[x] = std::fabs(in[x]) <= kLargest ? in[x] : cpu::kFar;
  }
  if (radius > 0) depthPad_.padRow(y);
}

void CpuKernelBackend::smoothRows(const CpuMap& depth, const Smoothing& s, int begin, int end,
                                  float* out, size_t outStride, float* scratch) {
  const cpu::SmoothingRows rows{depthPad_.row(0),
                                depthPad_.stride(),
                                depth.row(0),
                                static_cast<size_t>(depth.width()),
                                out,
                                outStride,
                                depth.width(),
                                depth.height(),
                                s.radius,
                                s.spatial,
                                s.rangeFactor};
  cpu::smoothRows(rows, begin, end, scratch, simd_);
}

void CpuKernelBackend::blurRowOf(const float* source, float* rowsPass, int width,
                                 const SlotRows& rows) {
  // The row padded in the thread's own scratch: no padding pass over the map.
  std::fill(rows.padded - kBlurRadius, rows.padded, source[0]);
  std::memcpy(rows.padded, source, sizeof(float) * static_cast<size_t>(width));
  std::fill(rows.padded + width, rows.padded + width + kBlurRadius, source[width - 1]);
  cpu::blurRow(rows.padded, rowsPass, width, simd_);
}

void CpuKernelBackend::blurColumnOf(const float* rowsPass, int y, int width, int height,
                                    float* out) {
  const float* sources[kBlurTaps];
  for (int i = -kBlurRadius; i <= kBlurRadius; ++i) {
    sources[i + kBlurRadius] =
        rowsPass + static_cast<size_t>(std::clamp(y + i, 0, height - 1)) * size_t(width);
  }
  cpu::blurColumn(sources, out, width, simd_);
}

void CpuKernelBackend::depthSmoothing(const KernelMap& depth, KernelMap& smoothed,
                                      const StereoParams& params) {
  requireSameSize(depth, smoothed, "depthSmoothing");
  requireDistinct({&depth, &smoothed}, "depthSmoothing");
  const CpuMap& d = own(depth);
  CpuMap& s = own(smoothed);
  std::lock_guard lock(mutex_);
  const Smoothing smoothing = prepareSmoothing(params);
  depthPad_.reshape(d.width(), d.height(), smoothing.radius);
  const int halo = std::max(1, smoothing.radius);
  prepareSlots(d.width(), rows_.chunkRows(2, d.height(), halo), smoothing.radius);
  rows_.runPasses(2, d.height(), halo, [&](int pass, int begin, int end, unsigned i) {
    if (pass == 0) {
      for (int y = begin; y < end; ++y) padDepthRow(d, y, smoothing.radius);
    } else {
      smoothRows(d, smoothing, begin, end, s.row(begin), static_cast<size_t>(d.width()),
                 slot(i).scratch);
    }
  });
}

namespace {

struct StereoSteps {
  float kw;
  int steps;
};

StereoSteps stereoSteps(const StereoParams& params, int width) {
  const float k = std::clamp(params.depthValue, 0.0f, 0.05f);
  const float kw = k * float(width);
  const float minimumReach = kw + 0.5f;
  return {kw, std::max(std::clamp(params.depthSteps, 0, 64),
                       static_cast<int>(std::ceil(minimumReach)))};
}

}  // namespace

void CpuKernelBackend::stereoGeneration(const KernelMap& smoothed, KernelMap& left,
                                        KernelMap& right, const StereoParams& params) {
  requireSameSize(smoothed, left, "stereoGeneration");
  requireSameSize(smoothed, right, "stereoGeneration");
  requireDistinct({&smoothed, &left, &right}, "stereoGeneration");
  const CpuMap& s = own(smoothed);
  CpuMap& l = own(left);
  CpuMap& r = own(right);
  std::lock_guard lock(mutex_);
  // The width the kernels were given, as GL reads it from the parameters.
  const StereoSteps steps = stereoSteps(params, static_cast<int>(params.width));
  prepareSlots(s.width(), 1, 0);
  rows_.run(s.height(), [&](int begin, int end, unsigned i) {
    const SlotRows scratch = slot(i);
    for (int y = begin; y < end; ++y) {
      cpu::stereoRow(s.row(y), scratch.reach, l.row(y), r.row(y), s.width(), steps.kw, steps.steps,
                     simd_);
    }
  });
}

void CpuKernelBackend::diskDilate(const KernelMap& source, KernelMap& target) {
  requireSameSize(source, target, "diskDilate");
  requireDistinct({&source, &target}, "diskDilate");
  const CpuMap& in = own(source);
  CpuMap& out = own(target);
  std::lock_guard lock(mutex_);
  const int width = in.width();
  PaddedPlane& padded = stereo_[0];
  padded.reshape(width, in.height(), 2);
  rows_.runPasses(2, in.height(), 2, [&](int pass, int begin, int end, unsigned) {
    for (int y = begin; y < end; ++y) {
      if (pass == 0) {
        std::memcpy(padded.row(y), in.row(y), sizeof(float) * static_cast<size_t>(width));
        padded.padRow(y);
      } else {
        const float* rows[5] = {padded.clampedRow(y - 2), padded.clampedRow(y - 1), padded.row(y),
                                padded.clampedRow(y + 1), padded.clampedRow(y + 2)};
        cpu::dilateRow(rows, out.row(y), width);
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
  const int width = in.width();
  const int height = in.height();
  std::vector<float>& rowsPass = rowsPass_[0];
  const size_t needed = static_cast<size_t>(width) * static_cast<size_t>(height);
  if (rowsPass.size() < needed) rowsPass.resize(needed);
  prepareSlots(width, 1, 0);
  rows_.runPasses(2, height, kBlurRadius, [&](int pass, int begin, int end, unsigned i) {
    const SlotRows scratch = slot(i);
    for (int y = begin; y < end; ++y) {
      float* across = rowsPass.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
      if (pass == 0) {
        blurRowOf(in.row(y), across, width, scratch);
      } else {
        blurColumnOf(rowsPass.data(), y, width, height, out.row(y));
      }
    }
  });
}

void CpuKernelBackend::eyeMaps(const KernelMap& depth, KernelMap& left, KernelMap& right,
                               const StereoParams& params) {
  requireSameSize(depth, left, "eyeMaps");
  requireSameSize(depth, right, "eyeMaps");
  requireDistinct({&depth, &left, &right}, "eyeMaps");
  const CpuMap& d = own(depth);
  CpuMap* out[2] = {&own(left), &own(right)};
  std::lock_guard lock(mutex_);
  const int width = d.width();
  const int height = d.height();
  const Smoothing smoothing = prepareSmoothing(params);
  const StereoSteps steps = stereoSteps(params, static_cast<int>(params.width));
  depthPad_.reshape(width, height, smoothing.radius);
  const size_t needed = static_cast<size_t>(width) * static_cast<size_t>(height);
  for (int eye = 0; eye < 2; ++eye) {
    stereo_[eye].reshape(width, height, 2);
    if (rowsPass_[eye].size() < needed) rowsPass_[eye].resize(needed);
  }
  // Pass 0 pads the depth; pass 1 smooths a chunk and shifts it for both
  // eyes (it reads the smoothing radius around it of pass 0); pass 2
  // dilates (2 rows around it of pass 1) and blurs across; pass 3 blurs down
  // (12 rows around it of pass 2). Chunks are at least 12 rows.
  const int halo = std::max(kBlurRadius, smoothing.radius);
  prepareSlots(width, rows_.chunkRows(4, height, halo), smoothing.radius);
  rows_.runPasses(4, height, halo, [&](int pass, int begin, int end, unsigned i) {
    const SlotRows scratch = slot(i);
    if (pass == 1) {
      smoothRows(d, smoothing, begin, end, scratch.smoothed, slotRow_, scratch.scratch);
      for (int y = begin; y < end; ++y) {
        cpu::stereoRow(scratch.smoothed + slotRow_ * static_cast<size_t>(y - begin), scratch.reach,
                       stereo_[0].row(y), stereo_[1].row(y), width, steps.kw, steps.steps, simd_);
        stereo_[0].padRow(y);
        stereo_[1].padRow(y);
      }
      return;
    }
    for (int y = begin; y < end; ++y) {
      switch (pass) {
        case 0:
          padDepthRow(d, y, smoothing.radius);
          break;
        case 2:
          for (int eye = 0; eye < 2; ++eye) {
            const PaddedPlane& s = stereo_[eye];
            const float* rows[5] = {s.clampedRow(y - 2), s.clampedRow(y - 1), s.row(y),
                                    s.clampedRow(y + 1), s.clampedRow(y + 2)};
            cpu::dilateRow(rows, scratch.reach, width);
            blurRowOf(scratch.reach,
                      rowsPass_[eye].data() + static_cast<size_t>(y) * static_cast<size_t>(width),
                      width, scratch);
          }
          break;
        default:
          for (int eye = 0; eye < 2; ++eye) {
            blurColumnOf(rowsPass_[eye].data(), y, width, height, out[eye]->row(y));
          }
          break;
      }
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
  if (draws.empty()) return;
  std::lock_guard lock(mutex_);

  // What stays fixed down each eye's columns, and where its rows begin in
  // the one run that draws every eye.
  struct Eye {
    EyeDraw draw;
    const CpuMap* map;
    EyeViewport vp;
    int x0, x1, y0, y1;  // the viewport's pixels (GL coverage)
    size_t columns;      // offset into the column tables
    int firstRow;
  };
  constexpr size_t kMaxEyes = 8;
  if (draws.size() > kMaxEyes) throw std::invalid_argument("drawEyes: too many eyes at once");
  std::array<Eye, kMaxEyes> eyes;
  size_t totalColumns = 0;
  int totalRows = 0;
  int widestMap = 1;
  for (size_t e = 0; e < draws.size(); ++e) {
    const EyeDraw& draw = draws[e];
    Eye& eye = eyes[e];
    eye.draw = draw;
    eye.map = draw.signedDepth < 0 ? &l : draw.signedDepth > 0 ? &r : nullptr;
    eye.vp = fitEyeViewport(float(frame.width), float(frame.height), float(draw.width),
                            float(draw.height));
    // GL's coverage: centres in [x, x + w) across and, counting rows from
    // the bottom, in [y, y + h); top-down that is (y, y + h].
    eye.x0 = std::clamp(int(std::ceil(eye.vp.x - 0.5f)), 0, draw.width);
    eye.x1 = std::clamp(int(std::ceil(eye.vp.x + eye.vp.width - 0.5f)), eye.x0, draw.width);
    eye.y0 = std::clamp(int(std::floor(eye.vp.y - 0.5f)) + 1, 0, draw.height);
    eye.y1 = std::clamp(int(std::floor(eye.vp.y + eye.vp.height - 0.5f)) + 1, eye.y0, draw.height);
    eye.columns = totalColumns;
    eye.firstRow = totalRows;
    totalColumns += static_cast<size_t>(draw.width);
    totalRows += draw.height;
    if (eye.map != nullptr) widestMap = std::max(widestMap, eye.map->width());
  }
  if (columnU_.size() < totalColumns) {
    columnU_.resize(totalColumns);
    columnMapA_.resize(totalColumns);
    columnMapB_.resize(totalColumns);
    columnMapFx_.resize(totalColumns);
  }
  for (size_t e = 0; e < draws.size(); ++e) {
    const Eye& eye = eyes[e];
    const int mapWidth = eye.map ? eye.map->width() : 1;
    for (int x = eye.x0; x < eye.x1; ++x) {
      const size_t c = eye.columns + static_cast<size_t>(x);
      const float u = (float(x) + 0.5f - eye.vp.x) / eye.vp.width;
      columnU_[c] = u;
      const float mx = u * float(mapWidth) - 0.5f;
      const int mx0 = floorAboveMinusOne(mx);
      columnMapA_[c] = std::clamp(mx0, 0, mapWidth - 1);
      columnMapB_[c] = std::clamp(mx0 + 1, 0, mapWidth - 1);
      columnMapFx_[c] = mx - float(mx0);
    }
  }
  const size_t threads = rows_.threadCount();
  const size_t mapRow = static_cast<size_t>(widestMap) + kRowSlack;
  const size_t frameRow = static_cast<size_t>(frame.width) * 4 + 64;
  if (mapRows_.size() < threads * mapRow) mapRows_.resize(threads * mapRow);
  if (frameRows_.size() < threads * frameRow) frameRows_.resize(threads * frameRow);
  const size_t eyeCount = draws.size();

  rows_.run(totalRows, [&](int begin, int end, unsigned slot) {
    float* resampled = mapRows_.data() + mapRow * slot;
    uint8_t* blended = frameRows_.data() + frameRow * slot;
    for (int row = begin; row < end; ++row) {
      size_t e = 0;
      while (e + 1 < eyeCount && row >= eyes[e + 1].firstRow) ++e;
      const Eye& eye = eyes[e];
      const int ly = row - eye.firstRow;
      auto* out = reinterpret_cast<uint32_t*>(target.row(eye.draw.y + ly) +
                                              static_cast<size_t>(eye.draw.x) * 4);
      if (ly < eye.y0 || ly >= eye.y1) {
        cpu::fillBlack(out, eye.draw.width, simd_);
        continue;
      }
      cpu::fillBlack(out, eye.x0, simd_);
      cpu::fillBlack(out + eye.x1, eye.draw.width - eye.x1, simd_);
      const float v = (float(ly) + 0.5f - eye.vp.y) / eye.vp.height;
      // The frame's rows and weight for this v (GL_LINEAR, clamp to edge); at
      // a 1:1 vertical scale the weight rounds to nothing and the row is used
      // as it is.
      const float fyPos = v * float(frame.height) - 0.5f;
      const int fy0 = floorAboveMinusOne(fyPos);
      const int w15 = cpu::lerpWeight15(fyPos - float(fy0));
      const uint8_t* top = frame.row(std::clamp(fy0, 0, frame.height - 1));
      const uint8_t* bottom = frame.row(std::clamp(fy0 + 1, 0, frame.height - 1));
      const uint8_t* source = top;
      if (w15 >= 32768) {
        source = bottom;
      } else if (w15 > 0 && top != bottom) {
        cpu::blendFrameRows(top, bottom, w15, frame.width, blended, simd_);
        source = blended;
      }
      // The map resampled to this row once.
      const float* map = nullptr;
      if (eye.map != nullptr) {
        const int mapHeight = eye.map->height();
        const float myPos = v * float(mapHeight) - 0.5f;
        const int my0 = floorAboveMinusOne(myPos);
        cpu::resampleMapRow(eye.map->row(std::clamp(my0, 0, mapHeight - 1)),
                            eye.map->row(std::clamp(my0 + 1, 0, mapHeight - 1)), myPos - float(my0),
                            eye.map->width(), resampled, simd_);
        map = resampled;
      }
      const cpu::EyeColumns columns{columnU_.data() + eye.columns, columnMapA_.data() + eye.columns,
                                    columnMapB_.data() + eye.columns,
                                    columnMapFx_.data() + eye.columns};
      cpu::shadeEyeRow({columns, map, eye.draw.signedDepth, source, frame.width, out}, eye.x0,
                       eye.x1, simd_);
    }
    cpu::finishStores(simd_);
  });
}

}  // namespace vistrelle::ai3d
