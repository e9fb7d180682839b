#pragma once

#include <QObject>

#include "platform/dispatch/main_queue.h"

namespace vistrelle::ui {

// The main queue on Qt's event loop: tasks posted from any thread run on the
// GUI thread, deadlines use precise Qt timers.
class QtMainQueue final : public dispatch::MainQueue {
 public:
  QtMainQueue();
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
  const std::string label_ = "main";
  QObject* context_;  // lives on the GUI thread
};

}  // namespace vistrelle::ui
