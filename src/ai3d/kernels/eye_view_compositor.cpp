#include "ai3d/kernels/eye_view_compositor.h"

#include <array>

namespace vistrelle::ai3d {

void EyeViewCompositor::drawEye(const BgraImageView& frame, const KernelMap& left,
                                const KernelMap& right, float signedDepth,
                                const MutableBgraImageView& target) {
  const std::array<EyeDraw, 1> draws = {EyeDraw{0, 0, target.width, target.height, signedDepth}};
  backend_.drawEyes(frame, left, right, draws, target);
}

void EyeViewCompositor::drawSideBySide(const BgraImageView& frame, const KernelMap& left,
                                       const KernelMap& right, float depthValue,
                                       const MutableBgraImageView& target) {
  const int half = target.width / 2;
  const std::array<EyeDraw, 2> draws = {
      EyeDraw{0, 0, half, target.height, -depthValue},
      EyeDraw{half, 0, target.width - half, target.height, depthValue}};
  backend_.drawEyes(frame, left, right, draws, target);
}

}  // namespace vistrelle::ai3d
