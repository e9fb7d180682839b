// RasterEyeViewFactory: makes the raster eye views over one side-by-side
// canvas (each eye half of the glasses' 3840 x 1080) drawn with `backend`'s
// compositor, and the surface that paints it. Views are freed on the GUI
// thread whichever thread lets go of them last.
#pragma once

#include <QPointer>
#include <memory>
#include <string>

#include "ai3d/kernels/kernel_backend.h"
#include "ai3d/pipeline/compositor_eye_view_factory.h"
#include "ui/stereo_raster_surface.h"

namespace vistrelle::ui {

class RasterEyeViewFactory final : public ai3d::EyeViewFactory {
 public:
  static constexpr int kEyeWidth = 1920;
  static constexpr int kEyeHeight = 1080;

  explicit RasterEyeViewFactory(ai3d::KernelBackend& backend);

  // The surface painting this factory's canvas; the caller owns it (as a
  // child of its window).
  StereoRasterSurface* makeSurface(QWidget* parent);

  std::shared_ptr<ai3d::EyeView> makeView(bool isRightEye) override;
  std::unique_ptr<ai3d::FrameTextureCache> makeTextureCache(std::string* reason) override {
    return views_.makeTextureCache(reason);
  }
  ai3d::SideBySideCanvas& canvas() { return views_.canvas(); }

 private:
  ai3d::CompositorEyeViewFactory views_;
  QPointer<StereoRasterSurface> surface_;
};

}  // namespace vistrelle::ui
