#include "ui/default_style.h"

#include "ui/color_from_hex.h"
#include "ui/light_palette.h"

namespace vistrelle::ui {

QFont DefaultStyle::font() const {
  return systemFont(fontSize());
}

QColor DefaultStyle::backgroundColor() const {
  return hexColor("#5C5C5C", 1.0);
}

QColor DefaultStyle::textColor() const {
  return hexColor("#FFFFFF", 0.8);
}

}  // namespace vistrelle::ui
