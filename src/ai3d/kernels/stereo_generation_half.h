// StereoGenerationHalf: turns one filtered depth map into a map per eye
// (smoothing, stereo shift, disk dilation, Gaussian blur).
//
//   StereoGenerationHalf stereo(*backend);
//   if (auto maps = stereo.generate(smoothed, 0.2f, 600.0f, depthValue)) {
//     views.drawSideBySide(frame, *maps->left, *maps->right, depthValue, window);
//   }
//
// The very first call only primes the generator and returns nothing. A
// library missing any of the seven set-up functions leaves the generator
// without pipelines; it then returns nothing for every frame.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "ai3d/kernels/depth_map_view.h"
#include "ai3d/kernels/kernel_backend.h"
#include "platform/gpu/kernel_library.h"

namespace vistrelle::ai3d {

struct StereoMaps {
  std::shared_ptr<const KernelMap> left;
  std::shared_ptr<const KernelMap> right;
};

class StereoGenerationHalf {
 public:
  explicit StereoGenerationHalf(KernelBackend& backend);
  // Looks the set-up functions up in library instead of the back-end's own.
  StereoGenerationHalf(KernelBackend& backend, const gpu::KernelLibrary& library);

  bool hasPipelines() const { return pipelinesReady_; }

  std::optional<StereoMaps> generate(std::shared_ptr<const KernelMap> depth, float baseline,
                                     float focalLength, float depthValue);
  // Uploads first; f16 or f32 only (others throw std::invalid_argument).
  std::optional<StereoMaps> generate(const DepthMapView& depth, float baseline, float focalLength,
                                     float depthValue);

  // (2r+1)^2 values, row-major, 1 inside the disk of radius r, else 0.
  static std::vector<float> makeDiskKernel(int radius);

 private:
  KernelBackend& backend_;
  bool pipelinesReady_ = false;
  std::mutex mutex_;
  std::shared_ptr<const KernelMap> previousDepth_;
};

}  // namespace vistrelle::ai3d
