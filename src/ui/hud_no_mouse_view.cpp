#include "ui/hud_no_mouse_view.h"

#include <QMouseEvent>
#include <QWheelEvent>

namespace vistrelle::ui {

HUDNoMouseView::HUDNoMouseView(QWidget* parent) : QWidget(parent) {
  setObjectName("interactionsView");
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

}  // namespace vistrelle::ui
