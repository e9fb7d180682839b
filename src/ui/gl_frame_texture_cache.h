// GlFrameTextureCache: what the OpenGL eye views sample. The captured frame
// passes as it is (the surface uploads it); the eye maps are read out of
// the kernel back-end into host copies on the frame's worker thread, so the
// GUI thread never needs the back-end's own GL context.
#pragma once

#include <memory>

#include "ai3d/pipeline/eye_view.h"
#include "ai3d/pipeline/half_map_copier.h"

namespace vistrelle::ui {

class GlFrameTextureCache final : public ai3d::FrameTextureCache {
 public:
  explicit GlFrameTextureCache(std::shared_ptr<ai3d::HalfMapCopier> copier)
      : copier_(std::move(copier)) {}

  capture::CaptureFramePtr wrap(const capture::CaptureFramePtr& frame) override { return frame; }
  std::shared_ptr<const ai3d::KernelMap> wrapMap(
      std::shared_ptr<const ai3d::KernelMap> map) override {
    if (!map) return nullptr;
    return copier_->copy(*map);
  }

 private:
  std::shared_ptr<ai3d::HalfMapCopier> copier_;
};

}  // namespace vistrelle::ui
