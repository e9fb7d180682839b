#include "ui/qt_main_queue.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>

namespace vistrelle::ui {

QtMainQueue::QtMainQueue() : context_(new QObject()) {}

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
    const auto remaining = deadline - now();
    const int ms = static_cast<int>(std::clamp<int64_t>(
        std::chrono::ceil<std::chrono::milliseconds>(remaining).count(), 0, INT32_MAX));
    QTimer::singleShot(ms, Qt::PreciseTimer, context_, std::move(guarded));
  });
  return handle;
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
