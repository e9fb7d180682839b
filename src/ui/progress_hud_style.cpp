#include "ui/progress_hud_style.h"

#include <algorithm>
#include <cmath>

namespace vistrelle::ui {

QColor ProgressHUDStyle::foregroundColor() const {
  switch (kind_) {
    case Kind::light:
      return QColor(Qt::black);
    case Kind::dark:
      return QColor::fromRgbF(0.95f, 0.95f, 0.95f, 1.0f);
    case Kind::custom:
      return foreground_;
  }
  return QColor(Qt::black);
}

QColor ProgressHUDStyle::boxColor(double opacity) const {
  QColor colour;
  switch (kind_) {
    case Kind::light:
      colour = QColor(Qt::white);
      break;
    case Kind::dark:
      colour = QColor(Qt::black);
      break;
    case Kind::custom:
      colour = backgroud_;
      break;
  }
  if (!std::isfinite(opacity)) opacity = 1.0;
  colour.setAlphaF(static_cast<float>(std::clamp(opacity, 0.0, 1.0)));
  return colour;
}

}  // namespace vistrelle::ui
