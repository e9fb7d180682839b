#pragma once

#include <QColor>
#include <QWidget>

#include "ui/spinning_progress_indicator_layer.h"

namespace vistrelle::ui {

// The progress HUD's spinner: twelve fins in one colour on a square of a
// given side, each lit in turn every 0.05 s and fading out over 0.7 s.  Built
// stopped; the HUD starts it.
class ProgressIndicatorLayer final : public SpinningProgressIndicatorLayer {
  Q_OBJECT

 public:
  ProgressIndicatorLayer(const QColor& color, double side, QWidget* parent = nullptr);

  QColor color() const { return foreColor().value_or(QColor(Qt::black)); }

  static constexpr int kFins = 12;
};

}  // namespace vistrelle::ui
