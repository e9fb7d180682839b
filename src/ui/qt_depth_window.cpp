#include "ui/qt_depth_window.h"

#include <QScreen>

#include "ui/screen_for_output.h"

namespace vistrelle::ui {

std::unique_ptr<ai3d::DepthWindow> QtDepthWindow::make(ai3d::KernelBackend& backend,
                                                       StereoViewChoice choice) {
  return std::make_unique<QtDepthWindow>(backend, chooseStereoViewPath(choice));
}

QtDepthWindow::QtDepthWindow(ai3d::KernelBackend& backend, StereoViewPath path)
    : window_(std::make_unique<OrvexDepthWindow>(backend, std::move(path))) {}

QtDepthWindow::~QtDepthWindow() {
  // No close hook from a window going away with its owner.
  window_->setWillClose({});
}

void QtDepthWindow::makeKeyAndOrderFront() {
  window_->show();
  window_->raise();
  window_->activateWindow();
}

bool QtDepthWindow::isOnScreen(const ai3d::GlassScreen& screen) const {
  const QScreen* current = window_->screen();
  return current != nullptr && current->name() == QString::fromStdString(screen.outputName);
}

void QtDepthWindow::toggleFullScreen() {
  if (window_->isFullScreen()) {
    window_->showNormal();
  } else {
    window_->showFullScreen();
  }
}

void QtDepthWindow::centreOnScreen(const ai3d::GlassScreen& screen) {
  QRect area;
  if (const QScreen* target = screenForOutput(screen.outputName)) {
    area = target->availableGeometry();
  } else {
    // Qt has not seen the output yet: the display server's rectangle.
    area = QRect(screen.x, screen.y, screen.width, screen.height);
  }
  QRect frame = window_->frameGeometry();
  frame.moveCenter(area.center());
  window_->move(frame.topLeft());
}

}  // namespace vistrelle::ui
