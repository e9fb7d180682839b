#include "ui/gl_eye_view.h"

#include <cstdio>

namespace vistrelle::ui {

GlEyeView::GlEyeView(StereoGlSurface* surface, bool isRightEye)
    : surface_(surface), isRightEye_(isRightEye) {
  if (surface_) surface_->attachEye(isRightEye_);
}

void GlEyeView::setTextures(capture::CaptureFramePtr bgraTexture,
                            std::shared_ptr<const ai3d::KernelMap> depthLeftTexture,
                            std::shared_ptr<const ai3d::KernelMap> depthRightTexture) {
  if (!surface_) return;
  surface_->setEye(isRightEye_, std::move(bgraTexture),
                   std::dynamic_pointer_cast<const ai3d::HalfMapCopy>(depthLeftTexture),
                   std::dynamic_pointer_cast<const ai3d::HalfMapCopy>(depthRightTexture));
}

void GlEyeView::setDepthValue(float depthValue) {
  if (surface_) surface_->setDepthValue(isRightEye_, depthValue);
}

void GlEyeView::setIsShwoDepth(bool showDepth) {
  isShwoDepth_ = showDepth;
  updatePreview();
}

void GlEyeView::setDepthTexture(std::shared_ptr<const ai3d::KernelMap> depthTexture) {
  depthTexture_ = std::dynamic_pointer_cast<const ai3d::HalfMapCopy>(depthTexture);
  updatePreview();
}

void GlEyeView::updatePreview() {
  if (surface_) surface_->setDepthPreview(isRightEye_, isShwoDepth_, depthTexture_);
}

void GlEyeView::draw() {
  if (surface_ && isShwoDepth_) {
    surface_->requestDraw();
    return;
  }
  if (!surface_ || !surface_->eyeComplete(isRightEye_)) {
    std::printf("Metal resources not available\n");
    std::fflush(stdout);
    return;
  }
  surface_->requestDraw();
}

}  // namespace vistrelle::ui
