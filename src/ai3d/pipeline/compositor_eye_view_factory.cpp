#include "ai3d/pipeline/compositor_eye_view_factory.h"

#include <algorithm>

#include "ai3d/pipeline/pass_through_texture_cache.h"

namespace vistrelle::ai3d {

CompositorEyeViewFactory::CompositorEyeViewFactory(KernelBackend& backend, int eyeWidth,
                                                   int eyeHeight)
    : canvas_(std::make_shared<SideBySideCanvas>(backend, eyeWidth, eyeHeight)) {}

std::shared_ptr<EyeView> CompositorEyeViewFactory::makeView(bool isRightEye) {
  auto view = std::make_shared<CompositorEyeView>(canvas_, isRightEye);
  std::erase_if(views_, [](const auto& weak) { return weak.expired(); });
  views_.push_back(view);
  ++made_;
  return view;
}

std::unique_ptr<FrameTextureCache> CompositorEyeViewFactory::makeTextureCache(std::string* reason) {
  if (!failure_.empty()) {
    if (reason) *reason = failure_;
    return nullptr;
  }
  return std::make_unique<PassThroughTextureCache>();
}

std::vector<std::shared_ptr<CompositorEyeView>> CompositorEyeViewFactory::views() const {
  std::vector<std::shared_ptr<CompositorEyeView>> live;
  for (const auto& weak : views_) {
    if (auto view = weak.lock()) live.push_back(std::move(view));
  }
  return live;
}

}  // namespace vistrelle::ai3d
