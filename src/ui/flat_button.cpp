#include "ui/flat_button.h"

#include <QPainter>
#include <QPainterPath>

namespace vistrelle::ui {

FlatButton::FlatButton(const QString& title, QWidget* parent) : QPushButton(title, parent) {
  setFlat(true);
}

void FlatButton::setBackgroundColor(const QColor& colour) {
  background_ = colour;
  update();
}

void FlatButton::setTitleColor(const QColor& colour) {
  title_ = colour;
  update();
}

void FlatButton::setCornerRadius(double radius) {
  radius_ = radius;
  update();
}

void FlatButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QPainterPath path;
  path.addRoundedRect(QRectF(rect()), radius_, radius_);
  painter.fillPath(path, background_);
  QRect area = rect();
  if (!icon().isNull()) {
    const QSize size = iconSize();
    const QPixmap pixmap = icon().pixmap(size, isEnabled() ? QIcon::Normal : QIcon::Disabled);
    if (text().isEmpty()) {
      painter.drawPixmap(
          QRect(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size),
          pixmap);
      return;
    }
    painter.drawPixmap(QRect(QPoint(4, (height() - size.height()) / 2), size), pixmap);
    area.setLeft(size.width() + 8);
  }
  painter.setPen(title_);
  painter.setFont(font());
  painter.drawText(area, Qt::AlignCenter, text());
}

}  // namespace vistrelle::ui
