#include "ui/hud_label.h"

#include <QPainter>

namespace vistrelle::ui {

HUDLabel::HUDLabel(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_NoSystemBackground);
  setFocusPolicy(Qt::NoFocus);
}

void HUDLabel::setText(const QString& text) {
  text_ = text;
  update();
}

void HUDLabel::setTextColor(const QColor& colour) {
  textColor_ = colour;
  update();
}

void HUDLabel::setTextFlags(int flags) {
  textFlags_ = flags;
  update();
}

void HUDLabel::paintEvent(QPaintEvent*) {
  if (text_.isEmpty()) return;
  QPainter painter(this);
  painter.setFont(font());
  painter.setPen(textColor_);
  painter.drawText(rect(), textFlags_, text_);
}

}  // namespace vistrelle::ui
