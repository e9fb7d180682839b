#pragma once

#include <QString>

class QWidget;

namespace vistrelle::ui {

class ToastView;

// A toast over `receiver`, fading out from 1 s after now; gone after 2 s.
ToastView* makeToast(QWidget* receiver, const QString& message);

// The toast every transient message of the application ends in: over the
// active window's content (the main window's current content), else over the
// given view's parent, else nowhere.  Toasts shown in a row stack in the same
// place, the later on top; there is no queue.
ToastView* showKeyWindowToast(const QString& message, QWidget* view);

// A dimmed square with a spinner over `receiver`, faded in over 0.1 s, until
// hideToastActivity() fades it out (0.1 s) and removes it; without one, that
// does nothing.
void makeToastActivity(QWidget* receiver);
void hideToastActivity(QWidget* receiver);

}  // namespace vistrelle::ui
