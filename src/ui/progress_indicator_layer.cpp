#include "ui/progress_indicator_layer.h"

#include <cmath>

namespace vistrelle::ui {

ProgressIndicatorLayer::ProgressIndicatorLayer(const QColor& color, double side, QWidget* parent)
    : SpinningProgressIndicatorLayer(parent) {
  setNumFins(kFins);
  setForeColor(color);
  setFadeDownOpacity(0);
  const int d = std::isfinite(side) && side > 0 ? static_cast<int>(std::lround(side)) : 0;
  resize(d, d);
}

}  // namespace vistrelle::ui
