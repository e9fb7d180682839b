// RasterEyeView: one eye of the 3D window's raster content, a compositor
// eye view over the side-by-side canvas whose draws repaint the surface.
// A QObject so that it is freed on the GUI thread. GUI thread only.
#pragma once

#include <QObject>
#include <QPointer>
#include <memory>

#include "ai3d/pipeline/compositor_eye_view.h"
#include "ui/stereo_raster_surface.h"

namespace vistrelle::ui {

class RasterEyeView final : public QObject, public ai3d::EyeView {
  Q_OBJECT

 public:
  RasterEyeView(std::shared_ptr<ai3d::CompositorEyeView> view, StereoRasterSurface* surface);

  bool isRightEye() const override { return view_->isRightEye(); }
  void setTextures(capture::CaptureFramePtr bgraTexture,
                   std::shared_ptr<const ai3d::KernelMap> depthLeftTexture,
                   std::shared_ptr<const ai3d::KernelMap> depthRightTexture) override;
  void setDepthValue(float depthValue) override { view_->setDepthValue(depthValue); }
  // Without all three textures: "Metal resources not available", nothing drawn.
  void draw() override;

 private:
  std::shared_ptr<ai3d::CompositorEyeView> view_;
  QPointer<StereoRasterSurface> surface_;
};

}  // namespace vistrelle::ui
