#include "ui/raster_eye_view_factory.h"

#include "ui/raster_eye_view.h"

namespace vistrelle::ui {

RasterEyeViewFactory::RasterEyeViewFactory(ai3d::KernelBackend& backend)
    : views_(backend, kEyeWidth, kEyeHeight) {}

StereoRasterSurface* RasterEyeViewFactory::makeSurface(QWidget* parent) {
  surface_ = new StereoRasterSurface(views_.canvas(), parent);
  return surface_;
}

std::shared_ptr<ai3d::EyeView> RasterEyeViewFactory::makeView(bool isRightEye) {
  auto view = std::static_pointer_cast<ai3d::CompositorEyeView>(views_.makeView(isRightEye));
  return std::shared_ptr<RasterEyeView>(new RasterEyeView(std::move(view), surface_),
                                        [](RasterEyeView* eye) { eye->deleteLater(); });
}

}  // namespace vistrelle::ui
