#pragma once

#include <QColor>
#include <QFont>
#include <QPointF>
#include <QSizeF>

namespace vistrelle::ui {

// How a toast or an activity view looks and fades.  Sizes are pixels, times
// seconds.
class Style {
 public:
  virtual ~Style() = default;
  virtual int fontSize() const = 0;
  virtual double horizontalPadding() const = 0;
  virtual double verticalPadding() const = 0;
  virtual double cornerRadius() const = 0;
  virtual QFont font() const = 0;
  virtual QColor backgroundColor() const = 0;
  virtual QColor textColor() const = 0;
  virtual double fadeInOutDuration() const = 0;
  virtual double fadeInOutDelay() const = 0;
  virtual QPointF labelOrigin() const = 0;
  virtual QSizeF activitySize() const = 0;
};

}  // namespace vistrelle::ui
