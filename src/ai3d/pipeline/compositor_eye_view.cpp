#include "ai3d/pipeline/compositor_eye_view.h"

#include "ai3d/kernels/eye_view_compositor.h"

namespace vistrelle::ai3d {

CompositorEyeView::CompositorEyeView(KernelBackend& backend, bool isRightEye, int width, int height)
    : backend_(backend), isRightEye_(isRightEye), width_(width), height_(height) {
  pixels_.assign(static_cast<size_t>(width) * static_cast<size_t>(height) * 4, 0);
  for (size_t i = 3; i < pixels_.size(); i += 4) pixels_[i] = 255;
}

void CompositorEyeView::setTextures(capture::CaptureFramePtr bgraTexture,
                                    std::shared_ptr<const KernelMap> depthLeftTexture,
                                    std::shared_ptr<const KernelMap> depthRightTexture) {
  std::lock_guard lock(mutex_);
  bgra_ = std::move(bgraTexture);
  left_ = std::move(depthLeftTexture);
  right_ = std::move(depthRightTexture);
}

void CompositorEyeView::setDepthValue(float depthValue) {
  std::lock_guard lock(mutex_);
  depthValue_ = depthValue;
}

void CompositorEyeView::draw() {
  std::lock_guard lock(mutex_);
  if (!bgra_ || !left_ || !right_) return;
  const BgraImageView frame{bgra_->data(), bgra_->width(), bgra_->height(), bgra_->stride()};
  const MutableBgraImageView target{pixels_.data(), width_, height_, 0};
  EyeViewCompositor(backend_).drawEye(frame, *left_, *right_,
                                      isRightEye_ ? depthValue_ : -depthValue_, target);
  ++draws_;
}

capture::CaptureFramePtr CompositorEyeView::bgraTexture() const {
  std::lock_guard lock(mutex_);
  return bgra_;
}

std::shared_ptr<const KernelMap> CompositorEyeView::depthLeftTexture() const {
  std::lock_guard lock(mutex_);
  return left_;
}

std::shared_ptr<const KernelMap> CompositorEyeView::depthRightTexture() const {
  std::lock_guard lock(mutex_);
  return right_;
}

int CompositorEyeView::draws() const {
  std::lock_guard lock(mutex_);
  return draws_;
}

std::vector<uint8_t> CompositorEyeView::picture() const {
  std::lock_guard lock(mutex_);
  return pixels_;
}

}  // namespace vistrelle::ai3d
