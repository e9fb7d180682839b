// EyeViewCompositor: draws the eye views from the captured frame and the two
// per-eye maps, on whichever back-end made the maps.
//
//   EyeViewCompositor views(*backend);
//   views.drawSideBySide(frame, *maps.left, *maps.right, depthValue, window);  // 3840 x 1080
//   views.drawEye(frame, *maps.left, *maps.right, -depthValue, leftHalf);      // one eye
//
// The left eye uses -depthValue and the left map, the right eye +depthValue
// and the right map; the frame is aspect-fitted into each eye's drawable and
// the letterbox is black.
#pragma once

#include "ai3d/kernels/bgra_image.h"
#include "ai3d/kernels/kernel_backend.h"

namespace vistrelle::ai3d {

class EyeViewCompositor {
 public:
  explicit EyeViewCompositor(KernelBackend& backend) : backend_(backend) {}

  // One eye filling target.
  void drawEye(const BgraImageView& frame, const KernelMap& left, const KernelMap& right,
               float signedDepth, const MutableBgraImageView& target);
  // Left eye in the left half of target, right eye in the right half.
  void drawSideBySide(const BgraImageView& frame, const KernelMap& left, const KernelMap& right,
                      float depthValue, const MutableBgraImageView& target);

 private:
  KernelBackend& backend_;
};

}  // namespace vistrelle::ai3d
