// ForwardingEyeViewFactory: the 3D view controller is made with the manager,
// the window (and with it what makes the eye views) only at the first open:
// the controller's factory forwards to the window's once there is one.
// Before that it makes no views and no texture cache.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "ai3d/pipeline/eye_view.h"

namespace vistrelle::ai3d {

class ForwardingEyeViewFactory final : public EyeViewFactory {
 public:
  // The window's factory; it must outlive this object's use.
  void setTarget(EyeViewFactory* target) { target_.store(target); }

  std::shared_ptr<EyeView> makeView(bool isRightEye) override;
  std::unique_ptr<FrameTextureCache> makeTextureCache(std::string* reason) override;

 private:
  std::atomic<EyeViewFactory*> target_{nullptr};
};

}  // namespace vistrelle::ai3d
