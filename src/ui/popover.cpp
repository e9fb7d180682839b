#include "ui/popover.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <algorithm>

#include "platform/statusbar/status_item.h"
#include "ui/orvex_exit_app_view_controller.h"

namespace vistrelle::ui {

Popover::Popover(const StatusItem* statusItem, std::function<void()> quit)
    : QWidget(nullptr, Qt::Popup | Qt::FramelessWindowHint),
      statusItem_(statusItem),
      quit_(std::move(quit)) {
  setObjectName("VistrellePopover");
  setAttribute(Qt::WA_DeleteOnClose, false);
  setMouseTracking(true);
}

void Popover::mouseMoveEvent(QMouseEvent* event) {
  if (exitView_) exitView_->updateHover(event->globalPosition());
  QWidget::mouseMoveEvent(event);
}

Popover::~Popover() = default;

void Popover::registerContent(PopoverContent content, QWidget* widget) {
  if (content != PopoverContent::quickControls) return;
  if (quickControls_ && quickControls_ != widget) delete quickControls_;
  quickControls_ = widget;
  if (widget) {
    widget->setParent(this);
    widget->move(0, 0);
  }
  setContent(content_);
}

QWidget* Popover::contentWidget() const {
  switch (content_) {
    case PopoverContent::quickControls:
      return quickControls_;
    case PopoverContent::exitView:
      return exitView_;
    case PopoverContent::none:
      break;
  }
  return nullptr;
}

void Popover::setContent(PopoverContent content) {
  if (exitView_) {
    // An exit view is never reused: the next one is built afresh.
    exitView_->hide();
    exitView_->setParent(nullptr);
    exitView_->deleteLater();
    exitView_ = nullptr;
  }
  content_ = content;
  if (content == PopoverContent::exitView) {
    exitView_ = new OrvexExitAppViewController(quit_, this);
    exitView_->move(0, 0);
  }
  if (quickControls_) quickControls_->setVisible(content == PopoverContent::quickControls);
  if (QWidget* widget = contentWidget()) {
    widget->show();
    const QSize size = widget->testAttribute(Qt::WA_Resized) ? widget->size() : widget->sizeHint();
    widget->resize(size);
    setFixedSize(size);
  }
}

void Popover::show() {
  if (!hasContent()) return;
  std::optional<QRect> anchor;
  if (statusItem_) {
    if (auto icon = statusItem_->iconGeometry()) {
      anchor = QRect(icon->x, icon->y, icon->width, icon->height);
    }
  }
  const QPoint cursor = QCursor::pos();
  const QPoint probe = anchor ? anchor->center() : cursor;
  QScreen* screen = QGuiApplication::screenAt(probe);
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (screen) {
    const QRect place =
        placement(size(), anchor, cursor, screen->geometry(), screen->availableGeometry());
    move(place.topLeft());
  }
  QWidget::show();
  raise();
}

void Popover::close() {
  QWidget::close();
}

QRect Popover::placement(QSize size, std::optional<QRect> anchor, QPoint cursor, QRect screen,
                         QRect available) {
  const QRect at = anchor.value_or(QRect(cursor, QSize(1, 1)));
  const int x = at.x() + at.width() / 2 - size.width() / 2;
  const bool upperHalf = at.y() + at.height() / 2 < screen.y() + screen.height() / 2;
  const int y = upperHalf ? at.y() + at.height() : at.y() - size.height();
  // Inside the screen's free area; one larger than it keeps its top left
  // corner in view.
  const int clampedX =
      std::max(available.left(), std::min(x, available.x() + available.width() - size.width()));
  const int clampedY =
      std::max(available.top(), std::min(y, available.y() + available.height() - size.height()));
  return QRect(QPoint(clampedX, clampedY), size);
}

}  // namespace vistrelle::ui
