#include "ui/toast_view.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <climits>

namespace vistrelle::ui {

ToastView::ToastView(QString message, QWidget* parent)
    : QWidget(nullptr), message_(std::move(message)) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_NoSystemBackground);
  setFocusPolicy(Qt::NoFocus);
  labelSize_ = measure(INT_MAX / 4);
  resize(labelSize_.width() + 2 * static_cast<int>(style_.horizontalPadding()),
         labelSize_.height() + 2 * static_cast<int>(style_.verticalPadding()));
  if (parent) setParent(parent);
}

int ToastView::textFlags() const {
  return Qt::AlignCenter | (wrapAnywhere_ ? Qt::TextWrapAnywhere : Qt::TextWordWrap);
}

QSize ToastView::measure(int maxWidth) const {
  // Qt measures an empty text one line high; an empty toast is padding only.
  if (message_.isEmpty()) return QSize(0, 0);
  const QFontMetrics metrics(style_.font());
  const QRect bounds(0, 0, std::max(1, maxWidth), INT_MAX / 4);
  const int wrap = wrapAnywhere_ ? Qt::TextWrapAnywhere : Qt::TextWordWrap;
  return metrics.boundingRect(bounds, Qt::AlignLeft | wrap, message_).size();
}

void ToastView::layoutInParent() {
  QWidget* parent = parentWidget();
  if (!parent) return;
  setGeometry(parent->rect());
  // Wrapped inside the parent, less the box's padding; a word too long for
  // that width is broken anywhere rather than let out of the box.
  const int maxWidth = parent->width() - 2 * static_cast<int>(style_.horizontalPadding());
  wrapAnywhere_ = false;
  labelSize_ = measure(maxWidth);
  if (labelSize_.width() > std::max(1, maxWidth)) {
    wrapAnywhere_ = true;
    labelSize_ = measure(maxWidth);
  }
  update();
}

QRectF ToastView::boxRect() const {
  const QSizeF box(labelSize_.width() + 2 * style_.horizontalPadding(),
                   labelSize_.height() + 2 * style_.verticalPadding());
  QRectF rect(QPointF(0, 0), box);
  rect.moveCenter(QPointF(width() / 2.0, height() / 2.0));
  return rect;
}

bool ToastView::event(QEvent* event) {
  if (event->type() == QEvent::ParentChange) layoutInParent();
  return QWidget::event(event);
}

void ToastView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QRectF box = boxRect();
  QPainterPath path;
  path.addRoundedRect(box, style_.cornerRadius(), style_.cornerRadius());
  painter.fillPath(path, style_.backgroundColor());
  if (message_.isEmpty()) return;
  painter.setFont(style_.font());
  painter.setPen(style_.textColor());
  const QRectF label(box.topLeft() + style_.labelOrigin(), QSizeF(labelSize_));
  painter.drawText(label, textFlags(), message_);
}

}  // namespace vistrelle::ui
