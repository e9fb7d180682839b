// CpuKernelBackend: the kernels on the CPU, threads over rows. It is the
// reference the GL back-end is held to and the fallback where no GL 4.3
// context can be made.
//
//   CpuKernelBackend backend;              // one thread per hardware thread
//   auto map = backend.acquireMap(518, 294);
//
// Scratch planes and maps are pooled: after the first frame of a size no
// call allocates.
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
  explicit CpuKernelBackend(unsigned threads = 0);

  BackendKind kind() const override { return BackendKind::Cpu; }
  std::string description() const override;
  const gpu::KernelLibrary& library() const override;

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
  void drawEyes(const BgraImageView& frame, const KernelMap& left, const KernelMap& right,
                std::span<const EyeDraw> draws, const MutableBgraImageView& target) override;

 private:
  CpuMap& own(KernelMap& map) const;
  const CpuMap& own(const KernelMap& map) const;
  void drawEye(const BgraImageView& frame, const CpuMap* map, const EyeDraw& draw,
               const MutableBgraImageView& target);

  ParallelRows rows_;
  std::mutex mutex_;  // one kernel at a time: the scratch below is shared
  std::vector<std::shared_ptr<CpuMap>> pool_;
  PaddedPlane paddedA_;
  std::vector<float> scratch_;
  std::vector<float> paddedRows_;  // one padded row per thread
  std::vector<float> columnU_;
  std::vector<int> columnMapA_;
  std::vector<int> columnMapB_;
  std::vector<float> columnMapFx_;
  std::vector<float> frameRows_;  // one vertically blended frame row per thread
};

}  // namespace vistrelle::ai3d
