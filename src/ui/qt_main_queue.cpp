#include "ui/qt_main_queue.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>

namespace vistrelle::ui {

QtMainQueue::QtMainQueue(std::chrono::milliseconds longestTimer)
    : longestTimer_(std::clamp(longestTimer, std::chrono::milliseconds(1), kLongestTimer)),
      context_(new QObject()) {}

QtMainQueue::~QtMainQueue() {
  delete context_;
}

void QtMainQueue::post(dispatch::Task task) {
  QMetaObject::invokeMethod(context_, std::move(task), Qt::QueuedConnection);
}

dispatch::DelayedTask QtMainQueue::postAt(dispatch::TimePoint deadline, dispatch::Task task) {
  auto [handle, guarded] = dispatch::DelayedTask::guard(std::move(task));
  // Timers belong to the GUI thread: arm it there, measuring the delay then.
  post([this, deadline, guarded = std::move(guarded)]() mutable {
    armTimer(deadline, std::move(guarded));
  });
  return handle;
}

void QtMainQueue::armTimer(dispatch::TimePoint deadline, dispatch::Task task) {
  const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - now());
  if (remaining > longestTimer_) {
    QTimer::singleShot(longestTimer_, Qt::PreciseTimer, context_,
                       [this, deadline, task = std::move(task)]() mutable {
                         armTimer(deadline, std::move(task));
                       });
    return;
  }
  QTimer::singleShot(std::max(remaining, std::chrono::milliseconds(0)), Qt::PreciseTimer, context_,
                     std::move(task));
}

dispatch::TimePoint QtMainQueue::now() const {
  return dispatch::SteadyClock::monotonicNow();
}

bool QtMainQueue::isCurrent() const {
  return QThread::currentThread() == context_->thread();
}

int QtMainQueue::run() {
  return QCoreApplication::exec();
}

void QtMainQueue::quit(int status) {
  post([status] { QCoreApplication::exit(status); });
}

}  // namespace vistrelle::ui
