#include "ai3d/kernels/kernel_backend.h"

#include "ai3d/kernels/kernel_map_checks.h"

namespace vistrelle::ai3d {

void KernelBackend::eyeMaps(const KernelMap& depth, KernelMap& left, KernelMap& right,
                            const StereoParams& params) {
  requireSameSize(depth, left, "eyeMaps");
  requireSameSize(depth, right, "eyeMaps");
  requireDistinct({&depth, &left, &right}, "eyeMaps");
  Batch batch(*this);
  const int width = depth.width();
  const int height = depth.height();
  std::shared_ptr<KernelMap> smoothed = acquireMap(width, height);
  std::shared_ptr<KernelMap> stereoLeft = acquireMap(width, height);
  std::shared_ptr<KernelMap> stereoRight = acquireMap(width, height);
  depthSmoothing(depth, *smoothed, params);
  stereoGeneration(*smoothed, *stereoLeft, *stereoRight, params);
  // The smoothed map is free again: it holds the dilated eye in turn.
  diskDilate(*stereoLeft, *smoothed);
  gaussianBlur(*smoothed, left);
  diskDilate(*stereoRight, *smoothed);
  gaussianBlur(*smoothed, right);
}

}  // namespace vistrelle::ai3d
