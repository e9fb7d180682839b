#include "ui/toast.h"

#include <QApplication>
#include <QPointer>
#include <QVariant>

#include "ui/activity_view.h"
#include "ui/fade_animations.h"
#include "ui/home_window.h"
#include "ui/toast_view.h"

namespace vistrelle::ui {

namespace {

// The receiver holds its activity view under this one key.
const char* const kActivityKey = "vistrelle.toastActivity";

QWidget* contentOf(QWidget* window) {
  if (auto* home = qobject_cast<HomeWindow*>(window)) return home->currentContentWidget();
  return window;
}

}  // namespace

ToastView* makeToast(QWidget* receiver, const QString& message) {
  if (!receiver) return nullptr;
  auto* toast = new ToastView(message, receiver);
  toast->show();
  toast->raise();
  hideAnimation(toast);
  return toast;
}

ToastView* showKeyWindowToast(const QString& message, QWidget* view) {
  QWidget* target = nullptr;
  if (QWidget* active = QApplication::activeWindow()) target = contentOf(active);
  if (!target && view) target = view->parentWidget();
  if (!target) return nullptr;
  return makeToast(target, message);
}

void makeToastActivity(QWidget* receiver) {
  if (!receiver) return;
  auto* activity = new ActivityView(receiver);
  receiver->setProperty(kActivityKey, QVariant::fromValue(QPointer<QWidget>(activity)));
  setViewOpacity(activity, 0.0);
  activity->show();
  activity->raise();
  const IndicatorStyle& style = activity->style();
  showAnimation(activity, style.fadeInOutDuration(), style.fadeInOutDelay());
}

void hideToastActivity(QWidget* receiver) {
  if (!receiver) return;
  const QVariant held = receiver->property(kActivityKey);
  auto* activity = qobject_cast<ActivityView*>(held.value<QPointer<QWidget>>().data());
  if (!activity) return;
  hideAnimation(activity, 0.1, 0.0);
}

}  // namespace vistrelle::ui
