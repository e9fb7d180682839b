// CompositorEyeView: a headless eye view that draws into its own BGRA image
// with the kernels' eye-view compositor (the CPU or GL back-end that made
// the maps), e.g. for tests, benchmarks or an off-screen consumer.
#pragma once

#include <mutex>
#include <vector>

#include "ai3d/kernels/bgra_image.h"
#include "ai3d/kernels/kernel_backend.h"
#include "ai3d/pipeline/eye_view.h"

namespace vistrelle::ai3d {

class CompositorEyeView : public EyeView {
 public:
  CompositorEyeView(KernelBackend& backend, bool isRightEye, int width, int height);

  bool isRightEye() const override { return isRightEye_; }
  void setTextures(capture::CaptureFramePtr bgraTexture,
                   std::shared_ptr<const KernelMap> depthLeftTexture,
                   std::shared_ptr<const KernelMap> depthRightTexture) override;
  void setDepthValue(float depthValue) override;
  // Without all three textures the view is left black.
  void draw() override;

  int draws() const;
  // What the latest setTextures gave.
  capture::CaptureFramePtr bgraTexture() const;
  std::shared_ptr<const KernelMap> depthLeftTexture() const;
  std::shared_ptr<const KernelMap> depthRightTexture() const;
  // A copy of the latest picture (black before the first draw).
  std::vector<uint8_t> picture() const;
  int width() const { return width_; }
  int height() const { return height_; }

 private:
  KernelBackend& backend_;
  const bool isRightEye_;
  const int width_;
  const int height_;
  mutable std::mutex mutex_;
  capture::CaptureFramePtr bgra_;
  std::shared_ptr<const KernelMap> left_;
  std::shared_ptr<const KernelMap> right_;
  float depthValue_ = 0;
  std::vector<uint8_t> pixels_;
  int draws_ = 0;
};

}  // namespace vistrelle::ai3d
