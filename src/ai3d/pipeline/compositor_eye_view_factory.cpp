#include "ai3d/pipeline/compositor_eye_view_factory.h"

#include "ai3d/pipeline/pass_through_texture_cache.h"

namespace vistrelle::ai3d {

CompositorEyeViewFactory::CompositorEyeViewFactory(KernelBackend& backend, int eyeWidth,
                                                   int eyeHeight)
    : backend_(backend), eyeWidth_(eyeWidth), eyeHeight_(eyeHeight) {}

std::shared_ptr<EyeView> CompositorEyeViewFactory::makeView(bool isRightEye) {
  auto view = std::make_shared<CompositorEyeView>(backend_, isRightEye, eyeWidth_, eyeHeight_);
  views_.push_back(view);
  return view;
}

std::unique_ptr<FrameTextureCache> CompositorEyeViewFactory::makeTextureCache(std::string* reason) {
  if (!failure_.empty()) {
    if (reason) *reason = failure_;
    return nullptr;
  }
  return std::make_unique<PassThroughTextureCache>();
}

}  // namespace vistrelle::ai3d
