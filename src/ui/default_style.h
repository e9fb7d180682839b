#pragma once

#include "ui/style.h"

namespace vistrelle::ui {

// The toast's look: white text on a dark grey box that fades after a second.
class DefaultStyle final : public Style {
 public:
  int fontSize() const override { return 16; }
  double horizontalPadding() const override { return 22; }
  double verticalPadding() const override { return 14; }
  double cornerRadius() const override { return 24; }
  QFont font() const override;
  QColor backgroundColor() const override;
  QColor textColor() const override;
  double fadeInOutDuration() const override { return 1.0; }
  double fadeInOutDelay() const override { return 1.0; }
  QPointF labelOrigin() const override { return {22, 14}; }
  QSizeF activitySize() const override { return {100, 100}; }
};

}  // namespace vistrelle::ui
