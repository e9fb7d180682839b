#include "ui/home_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

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
