#include "ui/hud_no_mouse_view.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

namespace vistrelle::ui {

HUDNoMouseView::HUDNoMouseView(QWidget* parent) : QWidget(nullptr) {
  setAttribute(Qt::WA_NoSystemBackground);
  if (parent) setParent(parent);
}

void HUDNoMouseView::setBackgroundColor(const QColor& colour) {
  backgroundColor_ = colour;
  update();
}

bool HUDNoMouseView::event(QEvent* event) {
  if (event->type() == QEvent::ParentAboutToChange && parentWidget()) {
    parentWidget()->removeEventFilter(this);
  } else if (event->type() == QEvent::ParentChange && parentWidget()) {
    parentWidget()->installEventFilter(this);
    setGeometry(parentWidget()->rect());
  }
  return QWidget::event(event);
}

bool HUDNoMouseView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parentWidget() && event->type() == QEvent::Resize) {
    setGeometry(parentWidget()->rect());
  }
  return QWidget::eventFilter(watched, event);
}

void HUDNoMouseView::mousePressEvent(QMouseEvent* event) {
  event->accept();
}

void HUDNoMouseView::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();
}

void HUDNoMouseView::mouseDoubleClickEvent(QMouseEvent* event) {
  event->accept();
}

void HUDNoMouseView::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  painter.fillRect(event->rect(), backgroundColor_);
}

}  // namespace vistrelle::ui
