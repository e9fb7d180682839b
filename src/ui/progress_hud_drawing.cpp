// The progress HUD's drawing: mask, box and glyphs.  The glyphs are given in
// coordinates growing upward from the bottom of their square (minY at its
// bottom edge, maxY at its top), and drawn flipped into Qt's.

#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

#include "ui/progress_hud.h"

namespace vistrelle::ui {

namespace {

// A point of the square given from its left and bottom edges, y up.
QPointF fromBottom(const QRectF& square, double x, double y) {
  return QPointF(square.left() + x, square.bottom() - y);
}

QPen strokePen(const QColor& colour, double width) {
  QPen pen(colour, width);
  pen.setCapStyle(Qt::RoundCap);
  pen.setJoinStyle(Qt::RoundJoin);
  return pen;
}

// An arc round the square's centre from `start` degrees, clockwise by
// `sweep` degrees (0 at 3 o'clock, 90 at 12).
QPainterPath clockwiseArc(const QRectF& square, double start, double sweep) {
  const double radius = square.width() / 2;
  const QPointF centre = square.center();
  const QRectF circle(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
  QPainterPath path;
  path.arcMoveTo(circle, start);
  path.arcTo(circle, start, -sweep);
  return path;
}

}  // namespace

void ProgressHUD::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  if (std::optional<QColor> fill = maskType_.fill()) painter.fillRect(event->rect(), *fill);

  QPainterPath box;
  box.addRoundedRect(boxRect_, cornerRadius_, cornerRadius_);
  painter.fillPath(box, style_.boxColor(opacity_));

  switch (mode_.kind()) {
    case ProgressHUDMode::Kind::determinate:
      drawProgress(painter, glyphRect_);
      break;
    case ProgressHUDMode::Kind::info:
      drawInfo(painter, glyphRect_);
      break;
    case ProgressHUDMode::Kind::success:
      drawSuccess(painter, glyphRect_);
      break;
    case ProgressHUDMode::Kind::error:
      drawError(painter, glyphRect_);
      break;
    default:
      break;
  }
}

void ProgressHUD::drawProgress(QPainter& painter, const QRectF& square) const {
  // Outside 0..1 (or not a number) the ring would wind the wrong way.
  const double progress = std::isfinite(progress_) ? std::clamp(progress_, 0.0, 1.0) : 0.0;
  painter.setBrush(Qt::NoBrush);
  painter.setPen(strokePen(style_.foregroundColor(), 4));
  painter.drawPath(clockwiseArc(square, 90, 360 * progress));
  // The second arc, from 90 degrees to 90 - 2*pi degrees, as drawn since the
  // beginning: a short tick right of 12 o'clock.
  painter.drawPath(clockwiseArc(square, 90, 90 - 83.7168146928204));
}

void ProgressHUD::drawInfo(QPainter& painter, const QRectF& square) const {
  const QColor colour = style_.foregroundColor();
  // A 58-point ring round the square's centre, wider than the square.
  const QRectF ring(square.left() - 9, square.top() - 9, 58, 58);
  painter.setBrush(Qt::NoBrush);
  painter.setPen(QPen(colour, 2));
  painter.drawEllipse(ring);
  // The letter i: a dot over a stem.
  const QPointF centre = ring.center();
  painter.setPen(Qt::NoPen);
  painter.setBrush(colour);
  painter.drawEllipse(QPointF(centre.x(), centre.y() - 13), 3.5, 3.5);
  painter.drawRoundedRect(QRectF(centre.x() - 3, centre.y() - 5, 6, 21), 2, 2);
}

void ProgressHUD::drawSuccess(QPainter& painter, const QRectF& square) const {
  const double w = square.width();
  const double h = square.height();
  QPainterPath tick;
  tick.moveTo(fromBottom(square, 0.05833 * w, 0.48377 * h));
  tick.lineTo(fromBottom(square, 0.31429 * w, 0.19167 * h));
  tick.lineTo(fromBottom(square, 0.93333 * w, 0.80833 * h));
  painter.setBrush(Qt::NoBrush);
  painter.setPen(strokePen(style_.foregroundColor(), 4));
  painter.drawPath(tick);
}

void ProgressHUD::drawError(QPainter& painter, const QRectF& square) const {
  // Absolute offsets: a 44-point cross whatever the square's side.
  const double s = square.height();
  QPen pen(style_.foregroundColor(), 4);
  pen.setCapStyle(Qt::FlatCap);
  painter.setPen(pen);
  painter.drawLine(fromBottom(square, 8, s - 52), fromBottom(square, 52, s - 8));
  painter.drawLine(fromBottom(square, 52, s - 52), fromBottom(square, 8, s - 8));
}

}  // namespace vistrelle::ui
