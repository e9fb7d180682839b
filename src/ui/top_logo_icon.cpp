#include "ui/top_logo_icon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace vistrelle::ui {

namespace {
QPixmap drawGlasses(int size, const QColor& colour) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal s = size / 32.0;
  QPen pen(colour, 2.2 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  painter.setPen(pen);
  painter.setBrush(Qt::NoBrush);
  // Two lenses, the bridge between them, and the temples.
  painter.drawRoundedRect(QRectF(3 * s, 11 * s, 11 * s, 9 * s), 3 * s, 3 * s);
  painter.drawRoundedRect(QRectF(18 * s, 11 * s, 11 * s, 9 * s), 3 * s, 3 * s);
  QPainterPath bridge;
  bridge.moveTo(14 * s, 14 * s);
  bridge.quadTo(16 * s, 12 * s, 18 * s, 14 * s);
  painter.drawPath(bridge);
  painter.drawLine(QPointF(3 * s, 13 * s), QPointF(1 * s, 11 * s));
  painter.drawLine(QPointF(29 * s, 13 * s), QPointF(31 * s, 11 * s));
  return pixmap;
}
}  // namespace

QIcon topLogoIcon() {
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64}) icon.addPixmap(drawGlasses(size, QColor(32, 32, 32)));
  return icon;
}

}  // namespace vistrelle::ui
