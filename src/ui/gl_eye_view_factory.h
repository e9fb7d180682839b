// GlEyeViewFactory: makes the OpenGL eye views over one StereoGlSurface and
// their texture cache (maps copied out of `backend`). Views are freed on the
// GUI thread whichever thread lets go of them last.
#pragma once

#include <QPointer>
#include <memory>
#include <string>

#include "ai3d/kernels/kernel_backend.h"
#include "ai3d/pipeline/eye_view.h"
#include "ai3d/pipeline/half_map_copier.h"
#include "ui/stereo_gl_surface.h"

namespace vistrelle::ui {

class GlEyeViewFactory final : public ai3d::EyeViewFactory {
 public:
  GlEyeViewFactory(StereoGlSurface* surface, ai3d::KernelBackend& backend);

  std::shared_ptr<ai3d::EyeView> makeView(bool isRightEye) override;
  std::unique_ptr<ai3d::FrameTextureCache> makeTextureCache(std::string* reason) override;

 private:
  QPointer<StereoGlSurface> surface_;
  std::shared_ptr<ai3d::HalfMapCopier> copier_;
};

}  // namespace vistrelle::ui
