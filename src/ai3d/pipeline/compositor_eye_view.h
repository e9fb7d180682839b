// CompositorEyeView: a headless eye view, one half of a SideBySideCanvas,
// drawn with the kernels' eye-view compositor (the CPU or GL back-end that
// made the maps), e.g. for tests, benchmarks or an off-screen consumer. The
// view itself is small: the pixels belong to the canvas (the window), so a
// view dropped at a stop frees nothing big and keeps nothing alive.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "ai3d/pipeline/eye_view.h"
#include "ai3d/pipeline/side_by_side_canvas.h"

namespace vistrelle::ai3d {

class CompositorEyeView : public EyeView {
 public:
  // A fresh view: its half of the canvas turns black.
  CompositorEyeView(std::shared_ptr<SideBySideCanvas> canvas, bool isRightEye);

  bool isRightEye() const override { return isRightEye_; }
  void setTextures(capture::CaptureFramePtr bgraTexture,
                   std::shared_ptr<const KernelMap> depthLeftTexture,
                   std::shared_ptr<const KernelMap> depthRightTexture) override;
  void setDepthValue(float depthValue) override;
  // Without all three textures the half is left as it is.
  void draw() override;

  // Draws that showed a picture.
  int draws() const;
  // What the latest setTextures gave.
  capture::CaptureFramePtr bgraTexture() const { return canvas_->frame(isRightEye_); }
  std::shared_ptr<const KernelMap> depthLeftTexture() const {
    return canvas_->leftMap(isRightEye_);
  }
  std::shared_ptr<const KernelMap> depthRightTexture() const {
    return canvas_->rightMap(isRightEye_);
  }
  // A copy of this eye's half (black before the first draw).
  std::vector<uint8_t> picture() const { return canvas_->eyePicture(isRightEye_); }
  int width() const { return canvas_->eyeWidth(); }
  int height() const { return canvas_->eyeHeight(); }

 private:
  const std::shared_ptr<SideBySideCanvas> canvas_;
  const bool isRightEye_;
  mutable std::mutex mutex_;
  int draws_ = 0;
};

}  // namespace vistrelle::ai3d
