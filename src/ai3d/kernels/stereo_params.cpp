#include "ai3d/kernels/stereo_params.h"

namespace vistrelle::ai3d {

StereoParams makeStereoParams(float focalLength, float baseline, int width, int height,
                              float depthValue) {
  StereoParams p{};
  p.focalLength = focalLength;
  p.baseline = baseline;
  p.width = static_cast<float>(width);
  p.height = static_cast<float>(height);
  p.sigmaSpatial = 2.0f;
  p.depthValue = depthValue;
  p.radius = 2;
  // Single precision on purpose: 0.011f * 3000.0f rounds to 33.0f, where a
  // double product would truncate to 32.
  const float steps = depthValue * 3000.0f;
  p.depthSteps = static_cast<int32_t>(steps);
  p.occlusionScale = 3.0f;
  p.sigmaRange = 0.1f;
  p.edgeScale = 1.5f;
  return p;
}

}  // namespace vistrelle::ai3d
