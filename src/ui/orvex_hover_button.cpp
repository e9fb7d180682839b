#include "ui/orvex_hover_button.h"

#include "ui/color_from_hex.h"
#include "ui/light_palette.h"

namespace vistrelle::ui {

OrvexHoverButton::OrvexHoverButton(const QString& title, QWidget* parent)
    : FlatButton(title, parent) {
  setCornerRadius(3);
  showNormalLook();
}

void OrvexHoverButton::showHoverLook() {
  QColor blue = systemBlue();
  blue.setAlphaF(0.6f);
  setBackgroundColor(blue);
  setTitleColor(Qt::white);
}

void OrvexHoverButton::showNormalLook() {
  setBackgroundColor(hexColor("#e7e9e7"));
  setTitleColor(Qt::black);
}

void OrvexHoverButton::enterEvent(QEnterEvent* event) {
  showHoverLook();
  FlatButton::enterEvent(event);
}

void OrvexHoverButton::leaveEvent(QEvent* event) {
  showNormalLook();
  FlatButton::leaveEvent(event);
}

}  // namespace vistrelle::ui
