#include "ai3d/kernels/stereo_generation_half.h"

#include <cmath>
#include <stdexcept>
#include <string>

#include "ai3d/kernels/ai3d_kernel_library.h"

namespace vistrelle::ai3d {

StereoGenerationHalf::StereoGenerationHalf(KernelBackend& backend)
    : StereoGenerationHalf(backend, backend.library()) {}

StereoGenerationHalf::StereoGenerationHalf(KernelBackend& backend,
                                           const gpu::KernelLibrary& library)
    : backend_(backend) {
  // All or nothing: one missing function leaves every pipeline unbuilt.
  pipelinesReady_ = true;
  for (std::string_view name : kStereoSetupLookups) {
    if (!library.contains(name)) pipelinesReady_ = false;
  }
}

std::optional<StereoMaps> StereoGenerationHalf::generate(const DepthMapView& depth, float baseline,
                                                         float focalLength, float depthValue) {
  if (!isDepthFormat(depth.format)) {
    throw std::invalid_argument(std::string("depth map of format ") + mapFormatName(depth.format) +
                                " refused: stereo generation reads f16 or f32");
  }
  if (!pipelinesReady_) return std::nullopt;
  std::shared_ptr<KernelMap> map = backend_.acquireMap(depth.width, depth.height);
  backend_.upload(depth, *map);
  return generate(std::move(map), baseline, focalLength, depthValue);
}

std::optional<StereoMaps> StereoGenerationHalf::generate(std::shared_ptr<const KernelMap> depth,
                                                         float baseline, float focalLength,
                                                         float depthValue) {
  if (!pipelinesReady_ || !depth) return std::nullopt;
  std::lock_guard lock(mutex_);
  if (!previousDepth_) {
    previousDepth_ = std::move(depth);
    return std::nullopt;
  }
  const int width = depth->width();
  const int height = depth->height();
  const StereoParams params = makeStereoParams(focalLength, baseline, width, height, depthValue);

  KernelBackend::Batch batch(backend_);
  std::shared_ptr<KernelMap> left = backend_.acquireMap(width, height);
  std::shared_ptr<KernelMap> right = backend_.acquireMap(width, height);
  backend_.eyeMaps(*depth, *left, *right, params);
  previousDepth_ = std::move(depth);
  return StereoMaps{std::move(left), std::move(right)};
}

std::vector<float> StereoGenerationHalf::makeDiskKernel(int radius) {
  if (radius < 0) throw std::invalid_argument("disk radius must not be negative");
  const int side = 2 * radius + 1;
  std::vector<float> values(static_cast<size_t>(side) * static_cast<size_t>(side), 0.0f);
  for (int row = 0; row < side; ++row) {
    for (int column = 0; column < side; ++column) {
      const double distance = std::sqrt(double((row - radius) * (row - radius)) +
                                        double((column - radius) * (column - radius)));
      if (distance <= radius) values[static_cast<size_t>(row * side + column)] = 1.0f;
    }
  }
  return values;
}

}  // namespace vistrelle::ai3d
