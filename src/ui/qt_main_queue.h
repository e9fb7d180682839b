#pragma once

#include <QObject>
#include <chrono>
#include <climits>

#include "platform/dispatch/main_queue.h"

namespace vistrelle::ui {

// The main queue on Qt's event loop: tasks posted from any thread run on the
// GUI thread, deadlines use precise Qt timers.
class QtMainQueue final : public dispatch::MainQueue {
 public:
  // The longest span one Qt timer can wait (an int of milliseconds, 24.8
  // days); longer delays wait in such steps.
  static constexpr std::chrono::milliseconds kLongestTimer{INT_MAX};

  explicit QtMainQueue(std::chrono::milliseconds longestTimer = kLongestTimer);
  ~QtMainQueue() override;

  void post(dispatch::Task task) override;
  dispatch::DelayedTask postAt(dispatch::TimePoint deadline, dispatch::Task task) override;
  dispatch::TimePoint now() const override;
  bool isCurrent() const override;
  const std::string& label() const override { return label_; }

  // QApplication::exec() on the calling (GUI) thread.
  int run() override;
  void quit(int status = 0) override;

 private:
  // On the GUI thread: a timer for `deadline`, or for the first step to it.
  void armTimer(dispatch::TimePoint deadline, dispatch::Task task);

  const std::string label_ = "main";
  const std::chrono::milliseconds longestTimer_;
  QObject* context_;  // lives on the GUI thread
};

}  // namespace vistrelle::ui
