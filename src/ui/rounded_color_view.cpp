#include "ui/rounded_color_view.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace vistrelle::ui {

RoundedColorView::RoundedColorView(QWidget* parent) : QWidget(parent) {}

void RoundedColorView::setBackgroundColor(const QColor& colour) {
  background_ = colour;
  update();
}

void RoundedColorView::setCornerRadius(double radius) {
  radius_ = radius;
  update();
}

void RoundedColorView::paintEvent(QPaintEvent*) {
  if (width() <= 0 || height() <= 0) return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  // A radius never exceeds half the shorter side (a thin bar stays a bar).
  const double radius = std::min({radius_, width() / 2.0, height() / 2.0});
  QPainterPath path;
  path.addRoundedRect(QRectF(rect()), radius, radius);
  painter.fillPath(path, background_);
}

}  // namespace vistrelle::ui
