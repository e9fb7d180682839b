#include "ui/activity_view.h"

#include <QEvent>
#include <QPainter>

#include "ui/spinning_progress_indicator_layer.h"

namespace vistrelle::ui {

ActivityView::ActivityView(QWidget* parent)
    : QWidget(nullptr), indicator_(new SpinningProgressIndicatorLayer(this)) {
  indicator_->setNumFins(12);
  indicator_->setForeColor(QColor(0x3A, 0x3A, 0x3C));
  if (parent) setParent(parent);
}

void ActivityView::layoutInParent() {
  QWidget* parent = parentWidget();
  if (!parent) return;
  setGeometry(parent->rect());
  const QSize side = style_.activitySize().toSize();
  indicator_->setGeometry(
      QRect(QPoint((width() - side.width()) / 2, (height() - side.height()) / 2), side));
  indicator_->show();
  if (!indicator_->isRunning()) indicator_->startAnimation();
}

bool ActivityView::event(QEvent* event) {
  if (event->type() == QEvent::ParentChange) layoutInParent();
  return QWidget::event(event);
}

void ActivityView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QColor grey(0x80, 0x80, 0x80);
  grey.setAlphaF(0.6f);
  painter.fillRect(rect(), grey);
}

}  // namespace vistrelle::ui
