#include "ui/home_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QStackedLayout>

namespace vistrelle::ui {

HomeWindow::HomeWindow(std::function<bool()> shouldQuitOnClose)
    : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                           Qt::WindowMinimizeButtonHint),
      shouldQuitOnClose_(std::move(shouldQuitOnClose)) {
  setWindowTitle("Vistrelle");
  setObjectName("VistrelleHomeWindow");
  // Fixed content size; no zoom.
  setFixedSize(kWidth, kHeight);
  setAttribute(Qt::WA_DeleteOnClose, false);
  setAutoFillBackground(true);
  stack_ = new QStackedLayout(this);
  stack_->setContentsMargins(0, 0, 0, 0);
  empty_ = new QWidget(this);
  empty_->setObjectName("VistrelleEmptyContent");
  stack_->addWidget(empty_);
  setContent(WindowContent::home);
}

void HomeWindow::registerContent(WindowContent content, QWidget* widget) {
  QWidget*& slot = contents_[static_cast<size_t>(content)];
  if (slot == widget) return;
  if (slot) {
    stack_->removeWidget(slot);
    delete slot;
  }
  slot = widget;
  if (widget) stack_->addWidget(widget);
  setContent(content_);
}

QWidget* HomeWindow::contentWidget(WindowContent content) const {
  return contents_[static_cast<size_t>(content)];
}

QWidget* HomeWindow::slotWidget(WindowContent content) const {
  QWidget* widget = contentWidget(content);
  return widget ? widget : empty_;
}

void HomeWindow::setContent(WindowContent content) {
  const bool changed = content != content_;
  content_ = content;
  stack_->setCurrentWidget(slotWidget(content));
  if (changed) emit contentChanged(content);
}

QWidget* HomeWindow::currentContentWidget() const {
  return slotWidget(content_);
}

void HomeWindow::showCentered() {
  show();
  raise();
  activateWindow();
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(kWidth / 2, kHeight / 2));
  }
}

void HomeWindow::bringToFront() {
  show();
  raise();
  activateWindow();
}

void HomeWindow::closeEvent(QCloseEvent* event) {
  // The window is kept for the life of the process; with a status item it
  // only hides, without one closing it is the way out.
  const bool quit = shouldQuitOnClose_ && shouldQuitOnClose_();
  if (quit) {
    event->accept();
  } else {
    event->ignore();
    hide();
  }
}

}  // namespace vistrelle::ui
