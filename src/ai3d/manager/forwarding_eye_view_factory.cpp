#include "ai3d/manager/forwarding_eye_view_factory.h"

namespace vistrelle::ai3d {

std::shared_ptr<EyeView> ForwardingEyeViewFactory::makeView(bool isRightEye) {
  EyeViewFactory* target = target_.load();
  return target != nullptr ? target->makeView(isRightEye) : nullptr;
}

std::unique_ptr<FrameTextureCache> ForwardingEyeViewFactory::makeTextureCache(std::string* reason) {
  EyeViewFactory* target = target_.load();
  if (target == nullptr) {
    if (reason != nullptr) *reason = "no 3D window yet";
    return nullptr;
  }
  return target->makeTextureCache(reason);
}

}  // namespace vistrelle::ai3d
