#include "ui/raster_eye_view.h"

#include <cstdio>

namespace vistrelle::ui {

RasterEyeView::RasterEyeView(std::shared_ptr<ai3d::CompositorEyeView> view,
                             StereoRasterSurface* surface)
    : view_(std::move(view)), surface_(surface) {
  // The fresh view's half is black now.
  if (surface_) surface_->update();
}

void RasterEyeView::setTextures(capture::CaptureFramePtr bgraTexture,
                                std::shared_ptr<const ai3d::KernelMap> depthLeftTexture,
                                std::shared_ptr<const ai3d::KernelMap> depthRightTexture) {
  view_->setTextures(std::move(bgraTexture), std::move(depthLeftTexture),
                     std::move(depthRightTexture));
}

void RasterEyeView::draw() {
  const capture::CaptureFramePtr frame = view_->bgraTexture();
  if (!frame || !view_->depthLeftTexture() || !view_->depthRightTexture()) {
    std::printf("Metal resources not available\n");
    std::fflush(stdout);
    return;
  }
  view_->draw();
  if (surface_) surface_->frameDrawn(frame->timestamp());
}

}  // namespace vistrelle::ui
