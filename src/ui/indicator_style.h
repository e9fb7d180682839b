#pragma once

#include "ui/style.h"

namespace vistrelle::ui {

// The activity view's look; its fade and box colour are stored.
class IndicatorStyle final : public Style {
 public:
  IndicatorStyle(double fadeInOutDuration, double fadeInOutDelay, QColor backgroundColor)
      : fadeInOutDuration_(fadeInOutDuration),
        fadeInOutDelay_(fadeInOutDelay),
        backgroundColor_(backgroundColor) {}
  // The one the activity view uses: a 0.1 s fade at once, black at 0.8.
  static IndicatorStyle shared();

  int fontSize() const override { return 16; }
  double horizontalPadding() const override { return 22; }
  double verticalPadding() const override { return 14; }
  double cornerRadius() const override { return 24; }
  QFont font() const override;
  QColor backgroundColor() const override { return backgroundColor_; }
  QColor textColor() const override;
  double fadeInOutDuration() const override { return fadeInOutDuration_; }
  double fadeInOutDelay() const override { return fadeInOutDelay_; }
  QPointF labelOrigin() const override { return {22, 14}; }
  QSizeF activitySize() const override { return {100, 100}; }

 private:
  double fadeInOutDuration_;
  double fadeInOutDelay_;
  QColor backgroundColor_;
};

}  // namespace vistrelle::ui
