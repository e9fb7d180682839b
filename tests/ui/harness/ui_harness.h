#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QString>
#include <QWidget>
#include <memory>

#include "platform/dispatch/virtual_executor.h"

// The offscreen harness of the UI tests: its main() makes the QApplication
// (the light Fusion palette, as the application has) and a dispatch runtime
// whose main queue is a virtual-time executor, so animations and timers run
// only when a test moves the clock.
namespace vistrelle::uitest {

dispatch::VirtualExecutor& mainQueue();

// Runs the main queue's due tasks and Qt's pending events, deferred deletes
// included, until neither has anything left.
void settle();
// Moves the virtual clock forward, settling at the end.
void advance(double seconds);
// The virtual clock in seconds.
double now();

// Shows a top-level widget and makes it the active window.
void showActive(QWidget* window);

// What the widget draws, as the screen would show it (children and effects
// included), in device-independent pixels.
QImage grab(QWidget* widget);
QColor pixel(const QImage& image, QPoint at);
// Colours equal within `tolerance` per channel (alpha included).
bool near(const QColor& a, const QColor& b, int tolerance = 3);
// `colour` blended over `background` as an opaque pixel.
QColor over(const QColor& colour, const QColor& background);

// Input as a user gives it, through Qt's window-system road.
void moveMouse(QWidget* widget, QPoint at);
void click(QWidget* widget, QPoint at);
void click(QWidget* widget);  // at its centre
void press(QWidget* widget, QPoint at);
void release(QWidget* widget, QPoint at);

// Saves what a test drew as <build>/ui-snapshots/<name>.png for a person to
// look at; returns the path.
QString saveSnapshot(const QImage& image, const QString& name);
QString saveSnapshot(QWidget* widget, const QString& name);

}  // namespace vistrelle::uitest
