#include "ui/stereo_raster_surface.h"

#include <QImage>
#include <QPainter>

namespace vistrelle::ui {

StereoRasterSurface::StereoRasterSurface(ai3d::SideBySideCanvas& canvas, QWidget* parent)
    : QWidget(parent), canvas_(canvas) {
  // Every pixel is painted: nothing behind needs drawing first.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
}

void StereoRasterSurface::frameDrawn(dispatch::TimePoint capturedAt) {
  pendingCapture_ = capturedAt;
  pending_ = true;
  update();
}

void StereoRasterSurface::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  canvas_.withPicture([&](const uint8_t* pixels, int width, int height, size_t stride) {
    // BGRA bytes are Qt's 0xAARRGGBB words on this little-endian machine.
    const QImage picture(pixels, width, height, static_cast<qsizetype>(stride),
                         QImage::Format_RGB32);
    if (width == this->width() && height == this->height()) {
      painter.drawImage(0, 0, picture);
    } else {
      painter.drawImage(rect(), picture);
    }
  });
  if (!pending_) return;
  pending_ = false;
  ++framesDrawn_;
  if (frameShown_) frameShown_(pendingCapture_);
}

}  // namespace vistrelle::ui
