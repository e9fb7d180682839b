// CpuKernelBackend: the kernels on the CPU, threads over rows. It is the
// reference the GL back-end is held to and the road wherever no hardware
// OpenGL 4.3 context exists.
//
//   CpuKernelBackend backend;              // one thread per hardware thread
//   auto map = backend.acquireMap(518, 294);
//
// The map stage of a frame is two runs of the thread pool: the filter (its
// change plane and blend as two passes) and eyeMaps (padding, smoothing with
// the stereo shift, dilation with the row blur, the column blur: four passes
// that flow into each other chunk by chunk). The eye views of all eyes of a
// draw are one run. On an AVX2 processor the heavy loops run in AVX2 (see
// map_row_kernels.h and eye_row_kernels.h). Scratch planes and maps are
// pooled: after the first frame of a size no call allocates.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "ai3d/kernels/cpu/cpu_map.h"
#include "ai3d/kernels/cpu/padded_plane.h"
#include "ai3d/kernels/cpu/parallel_rows.h"
#include "ai3d/kernels/kernel_backend.h"

namespace vistrelle::ai3d {

class CpuKernelBackend final : public KernelBackend {
 public:
  // simd false keeps to the portable loops even on an AVX2 processor (they
  // compute the same maps within the kernels' tolerance and the same eye
  // views bit for bit).
  explicit CpuKernelBackend(unsigned threads = 0, bool simd = true);

  BackendKind kind() const override { return BackendKind::Cpu; }
  std::string description() const override;
  const gpu::KernelLibrary& library() const override;
  bool usesSimd() const { return simd_; }

  std::shared_ptr<KernelMap> acquireMap(int width, int height) override;
  void upload(const DepthMapView& source, KernelMap& target) override;
  void read(const KernelMap& source, std::span<uint16_t> target) override;
  void copy(const KernelMap& source, KernelMap& target) override;
  void dynamicDepthFilter(const KernelMap& current, const KernelMap& previous, KernelMap& out,
                          const DynamicFilterParams& params) override;
  void depthSmoothing(const KernelMap& depth, KernelMap& smoothed,
                      const StereoParams& params) override;
  void stereoGeneration(const KernelMap& smoothed, KernelMap& left, KernelMap& right,
                        const StereoParams& params) override;
  void diskDilate(const KernelMap& source, KernelMap& target) override;
  void gaussianBlur(const KernelMap& source, KernelMap& target) override;
  void eyeMaps(const KernelMap& depth, KernelMap& left, KernelMap& right,
               const StereoParams& params) override;
  void drawEyes(const BgraImageView& frame, const KernelMap& left, const KernelMap& right,
                std::span<const EyeDraw> draws, const MutableBgraImageView& target) override;

 private:
  struct Smoothing {
    int radius;
    float rangeFactor;
    const float* spatial;
  };
  // Per-thread scratch of a map width.
  struct SlotRows {
    float* smoothed;  // a chunk of rows
    float* scratch;   // the smoothing's accumulators
    float* reach;     // a row
    float* padded;    // a row with kBlurRadius columns each side
  };

  CpuMap& own(KernelMap& map) const;
  const CpuMap& own(const KernelMap& map) const;
  Smoothing prepareSmoothing(const StereoParams& params);
  void prepareSlots(int width, int chunkRows, int radius);
  SlotRows slot(unsigned index);
  void padDepthRow(const CpuMap& depth, int y, int radius);
  void smoothRows(const CpuMap& depth, const Smoothing& s, int begin, int end, float* out,
                  size_t outStride, float* scratch);
  void blurRowOf(const float* source, float* rowsPass, int width, const SlotRows& rows);
  void blurColumnOf(const float* rowsPass, int y, int width, int height, float* out);

  ParallelRows rows_;
  const bool simd_;
  std::mutex mutex_;  // one kernel at a time: the scratch below is shared
  std::vector<std::shared_ptr<CpuMap>> pool_;
  PaddedPlane depthPad_;            // the depth, padded by the smoothing radius
  PaddedPlane changes_;             // the filter's |C - P|, padded by 1
  PaddedPlane stereo_[2];           // the eyes' maps before dilation, padded by 2
  std::vector<float> rowsPass_[2];  // the eyes' maps blurred across
  std::vector<float> spatial_;
  std::vector<float> slotRows_;
  size_t slotRow_ = 0;
  size_t slotScratch_ = 0;
  size_t slotStride_ = 0;
  // Eye views: per eye, per column.
  std::vector<float> columnU_;
  std::vector<int> columnMapA_;
  std::vector<int> columnMapB_;
  std::vector<float> columnMapFx_;
  std::vector<float> mapRows_;      // one resampled map row per thread
  std::vector<uint8_t> frameRows_;  // one blended frame row per thread
};

}  // namespace vistrelle::ai3d
