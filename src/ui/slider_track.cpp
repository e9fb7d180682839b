#include "ui/slider_track.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>

namespace vistrelle::ui {
namespace {

constexpr double kBarHeight = 4;

}  // namespace

SliderTrack::SliderTrack(QWidget* parent) : QWidget(parent), bar_(0xC7, 0xC7, 0xCC) {
  setCursor(Qt::PointingHandCursor);
}

void SliderTrack::setBarColor(const QColor& colour) {
  bar_ = colour;
  update();
}

void SliderTrack::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(bar_);
  const QRectF bar(0, (height() - kBarHeight) / 2, width(), kBarHeight);
  painter.drawRoundedRect(bar, kBarHeight / 2, kBarHeight / 2);
}

void SliderTrack::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QWidget::mousePressEvent(event);
    return;
  }
  pressed_ = true;
  panning_ = false;
  pressedAt_ = event->position();
  lastX_ = event->position().x();
  event->accept();
}

void SliderTrack::mouseMoveEvent(QMouseEvent* event) {
  if (!pressed_) {
    QWidget::mouseMoveEvent(event);
    return;
  }
  lastX_ = event->position().x();
  if (!panning_) {
    const double distance = (event->position() - pressedAt_).manhattanLength();
    if (distance < QApplication::startDragDistance()) return;
    panning_ = true;
    report(Gesture::panBegan, lastX_);
    return;
  }
  report(Gesture::panChanged, lastX_);
}

void SliderTrack::mouseReleaseEvent(QMouseEvent* event) {
  if (!pressed_ || event->button() != Qt::LeftButton) {
    QWidget::mouseReleaseEvent(event);
    return;
  }
  pressed_ = false;
  lastX_ = event->position().x();
  if (panning_) {
    panning_ = false;
    report(Gesture::panEnded, lastX_);
  } else {
    report(Gesture::click, lastX_);
  }
}

void SliderTrack::hideEvent(QHideEvent* event) {
  cancelPan();
  QWidget::hideEvent(event);
}

void SliderTrack::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange && !isActiveWindow()) cancelPan();
  QWidget::changeEvent(event);
}

void SliderTrack::cancelPan() {
  const bool wasPanning = panning_;
  pressed_ = false;
  panning_ = false;
  if (wasPanning) report(Gesture::panCancelled, lastX_);
}

void SliderTrack::report(Gesture gesture, double x) {
  if (handler_) handler_(gesture, x);
}

}  // namespace vistrelle::ui
