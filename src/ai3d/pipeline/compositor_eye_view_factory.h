// CompositorEyeViewFactory: makes CompositorEyeViews of one eye's drawable
// size (half the glasses' 3840 x 1080 by default) on one kernel back-end,
// with a texture cache that passes captured frames through as they are.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "ai3d/kernels/kernel_backend.h"
#include "ai3d/pipeline/compositor_eye_view.h"
#include "ai3d/pipeline/eye_view.h"

namespace vistrelle::ai3d {

class CompositorEyeViewFactory : public EyeViewFactory {
 public:
  explicit CompositorEyeViewFactory(KernelBackend& backend, int eyeWidth = 1920,
                                    int eyeHeight = 1080);

  std::shared_ptr<EyeView> makeView(bool isRightEye) override;
  std::unique_ptr<FrameTextureCache> makeTextureCache(std::string* reason) override;

  // The views made so far, newest last.
  std::vector<std::shared_ptr<CompositorEyeView>> views() const { return views_; }
  // Makes the next makeTextureCache fail with this reason.
  void failTextureCache(std::string reason) { failure_ = std::move(reason); }

 private:
  KernelBackend& backend_;
  int eyeWidth_;
  int eyeHeight_;
  std::string failure_;
  std::vector<std::shared_ptr<CompositorEyeView>> views_;
};

}  // namespace vistrelle::ai3d
