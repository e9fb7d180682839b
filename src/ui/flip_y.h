#pragma once

#include <QRect>
#include <QRectF>

namespace vistrelle::ui {

// The panels' rectangles are measured from the bottom of their parent (y up);
// Qt's from the top.  The conversion is its own inverse.
inline QRectF flipY(const QRectF& rect, qreal parentHeight) {
  return QRectF(rect.x(), parentHeight - rect.y() - rect.height(), rect.width(), rect.height());
}

inline QRect flipY(const QRect& rect, int parentHeight) {
  return QRect(rect.x(), parentHeight - rect.y() - rect.height(), rect.width(), rect.height());
}

}  // namespace vistrelle::ui
