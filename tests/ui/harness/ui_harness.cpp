#include "ui_harness.h"

#include <QApplication>
#include <QDir>
#include <QTest>
#include <QWindow>
#include <chrono>

#include "platform/dispatch/runtime.h"

namespace vistrelle::uitest {

dispatch::VirtualExecutor& mainQueue() {
  auto queue = std::dynamic_pointer_cast<dispatch::VirtualExecutor>(dispatch::mainQueue());
  if (!queue) std::abort();  // the harness's main() installs one
  return *queue;
}

void settle() {
  for (int round = 0; round < 100; ++round) {
    const size_t ran = mainQueue().runUntilIdle();
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    if (ran == 0 && mainQueue().runUntilIdle() == 0) return;
  }
}

void advance(double seconds) {
  settle();
  mainQueue().advanceBy(
      std::chrono::duration_cast<dispatch::Nanos>(std::chrono::duration<double>(seconds)));
  settle();
}

double now() {
  return std::chrono::duration<double>(mainQueue().now()).count();
}

void showActive(QWidget* window) {
  window->show();
  window->raise();
  window->activateWindow();
  settle();
}

QImage grab(QWidget* widget) {
  QPixmap pixmap = widget->grab();
  pixmap.setDevicePixelRatio(1);
  return pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
}

QColor pixel(const QImage& image, QPoint at) {
  return image.pixelColor(at);
}

bool near(const QColor& a, const QColor& b, int tolerance) {
  return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
         std::abs(a.blue() - b.blue()) <= tolerance && std::abs(a.alpha() - b.alpha()) <= tolerance;
}

QColor over(const QColor& colour, const QColor& background) {
  const double a = colour.alphaF();
  const auto mix = [a](int top, int bottom) {
    return static_cast<int>(std::lround(top * a + bottom * (1 - a)));
  };
  return QColor(mix(colour.red(), background.red()), mix(colour.green(), background.green()),
                mix(colour.blue(), background.blue()));
}

namespace {

// Input goes to the widget's window as the window system delivers it, so Qt
// routes it: to the child under the pointer, past mouse-transparent views,
// through an open popup.
QWindow* windowOf(QWidget* widget, QPoint& at) {
  QWidget* top = widget->window();
  at = widget->mapTo(top, at);
  return top->windowHandle();
}

}  // namespace

void moveMouse(QWidget* widget, QPoint at) {
  QWindow* window = windowOf(widget, at);
  QTest::mouseMove(window, at);
  settle();
}

void click(QWidget* widget, QPoint at) {
  QWindow* window = windowOf(widget, at);
  QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, at);
  settle();
}

void click(QWidget* widget) {
  click(widget, widget->rect().center());
}

void press(QWidget* widget, QPoint at) {
  QWindow* window = windowOf(widget, at);
  QTest::mousePress(window, Qt::LeftButton, Qt::NoModifier, at);
  settle();
}

void release(QWidget* widget, QPoint at) {
  QWindow* window = windowOf(widget, at);
  QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, at);
  settle();
}

QString saveSnapshot(const QImage& image, const QString& name) {
  const QDir dir(VISTRELLE_UI_SNAPSHOT_DIR);
  dir.mkpath(".");
  const QString path = dir.filePath(name + ".png");
  image.save(path);
  return path;
}

QString saveSnapshot(QWidget* widget, const QString& name) {
  return saveSnapshot(grab(widget), name);
}

}  // namespace vistrelle::uitest
