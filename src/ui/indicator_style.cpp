#include "ui/indicator_style.h"

#include "ui/color_from_hex.h"
#include "ui/light_palette.h"

namespace vistrelle::ui {

IndicatorStyle IndicatorStyle::shared() {
  QColor black(Qt::black);
  black.setAlphaF(0.8f);
  return IndicatorStyle(0.1, 0.0, black);
}

QFont IndicatorStyle::font() const {
  return systemFont(fontSize());
}

QColor IndicatorStyle::textColor() const {
  return hexColor("#FFFFFF", 0.8);
}

}  // namespace vistrelle::ui
