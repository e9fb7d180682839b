#include "ui/hud_no_mouse_view.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>

namespace vistrelle::ui {

HUDNoMouseView::HUDNoMouseView(QWidget* parent) : QWidget(parent) {
  setObjectName("interactionsView");
  coverParent();
}

void HUDNoMouseView::setBackgroundColor(const QColor& colour) {
  backgroundColor_ = colour;
  update();
}

void HUDNoMouseView::coverParent() {
  QWidget* parent = parentWidget();
  if (!parent) return;
  parent->installEventFilter(this);
  setGeometry(parent->rect());
}

bool HUDNoMouseView::event(QEvent* event) {
  if (event->type() == QEvent::ParentAboutToChange && parentWidget()) {
    parentWidget()->removeEventFilter(this);
  } else if (event->type() == QEvent::ParentChange) {
    coverParent();
  }
  return QWidget::event(event);
}

bool HUDNoMouseView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parentWidget() && event->type() == QEvent::Resize) {
    setGeometry(parentWidget()->rect());
  }
  return QWidget::eventFilter(watched, event);
}

// Accepted events stop here instead of travelling on to the parent.
void HUDNoMouseView::mousePressEvent(QMouseEvent* event) {
  event->accept();
}
void HUDNoMouseView::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();
}
void HUDNoMouseView::mouseDoubleClickEvent(QMouseEvent* event) {
  event->accept();
}
void HUDNoMouseView::mouseMoveEvent(QMouseEvent* event) {
  event->accept();
}
void HUDNoMouseView::wheelEvent(QWheelEvent* event) {
  event->accept();
}

void HUDNoMouseView::paintEvent(QPaintEvent* event) {
  if (backgroundColor_.alpha() == 0) return;
  QPainter painter(this);
  painter.fillRect(event->rect(), backgroundColor_);
}

}  // namespace vistrelle::ui
