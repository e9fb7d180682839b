#include "ai3d/pipeline/compositor_eye_view.h"

namespace vistrelle::ai3d {

CompositorEyeView::CompositorEyeView(std::shared_ptr<SideBySideCanvas> canvas, bool isRightEye)
    : canvas_(std::move(canvas)), isRightEye_(isRightEye) {
  canvas_->attach(isRightEye_);
}

void CompositorEyeView::setTextures(capture::CaptureFramePtr bgraTexture,
                                    std::shared_ptr<const KernelMap> depthLeftTexture,
                                    std::shared_ptr<const KernelMap> depthRightTexture) {
  canvas_->setTextures(isRightEye_, std::move(bgraTexture), std::move(depthLeftTexture),
                       std::move(depthRightTexture));
}

void CompositorEyeView::setDepthValue(float depthValue) {
  canvas_->setDepthValue(isRightEye_, depthValue);
}

void CompositorEyeView::draw() {
  if (!canvas_->draw(isRightEye_)) return;
  std::lock_guard lock(mutex_);
  ++draws_;
}

int CompositorEyeView::draws() const {
  std::lock_guard lock(mutex_);
  return draws_;
}

}  // namespace vistrelle::ai3d
