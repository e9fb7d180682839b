#include "ui/orvex_depth_window.h"

#include <QCloseEvent>
#include <QVBoxLayout>

#include "ui/gl_eye_view_factory.h"
#include "ui/raster_eye_view_factory.h"
#include "ui/stereo_gl_surface.h"
#include "ui/stereo_raster_surface.h"

namespace vistrelle::ui {

OrvexDepthWindow::OrvexDepthWindow(ai3d::KernelBackend& backend, StereoViewPath path)
    : QWidget(nullptr), path_(std::move(path)) {
  setWindowTitle(QString());
  // Black wherever no eye is drawn yet.
  setAutoFillBackground(true);
  QPalette black = palette();
  black.setColor(QPalette::Window, Qt::black);
  setPalette(black);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  if (path_.kind == StereoViewPath::Kind::OpenGl) {
    glSurface_ = new StereoGlSurface(this);
    layout->addWidget(glSurface_);
    factory_ = std::make_unique<GlEyeViewFactory>(glSurface_, backend);
  } else {
    auto raster = std::make_unique<RasterEyeViewFactory>(backend);
    rasterSurface_ = raster->makeSurface(this);
    layout->addWidget(rasterSurface_);
    factory_ = std::move(raster);
  }
  // The window starts as small as it can be; its placement sizes it.
  resize(1, 1);
}

OrvexDepthWindow::~OrvexDepthWindow() = default;

uint64_t OrvexDepthWindow::framesDrawn() const {
  if (glSurface_ != nullptr) return glSurface_->framesDrawn();
  return rasterSurface_ != nullptr ? rasterSurface_->framesDrawn() : 0;
}

void OrvexDepthWindow::setFrameShownHook(std::function<void(dispatch::TimePoint)> hook) {
  if (glSurface_ != nullptr) glSurface_->setFrameShownHook(std::move(hook));
  if (rasterSurface_ != nullptr) rasterSurface_->setFrameShownHook(std::move(hook));
}

void OrvexDepthWindow::closeEvent(QCloseEvent* event) {
  event->accept();
  if (willClose_) willClose_();
}

}  // namespace vistrelle::ui
