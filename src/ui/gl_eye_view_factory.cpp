#include "ui/gl_eye_view_factory.h"

#include "ui/gl_eye_view.h"
#include "ui/gl_frame_texture_cache.h"

namespace vistrelle::ui {

GlEyeViewFactory::GlEyeViewFactory(StereoGlSurface* surface, ai3d::KernelBackend& backend)
    : surface_(surface), copier_(std::make_shared<ai3d::HalfMapCopier>(backend)) {}

std::shared_ptr<ai3d::EyeView> GlEyeViewFactory::makeView(bool isRightEye) {
  return std::shared_ptr<GlEyeView>(new GlEyeView(surface_, isRightEye),
                                    [](GlEyeView* view) { view->deleteLater(); });
}

std::unique_ptr<ai3d::FrameTextureCache> GlEyeViewFactory::makeTextureCache(std::string*) {
  return std::make_unique<GlFrameTextureCache>(copier_);
}

}  // namespace vistrelle::ui
