#pragma once

#include <mutex>
#include <thread>

#include "platform/dispatch/deadline_queue.h"
#include "platform/dispatch/main_queue.h"

namespace vistrelle::dispatch {

// An executor on a virtual clock for tests: nothing runs until the test asks,
// and time moves only when the test advances it, so a 1.25 s retry loop or a
// 30 s time-out runs deterministically in microseconds.
class VirtualExecutor : public MainQueue {
 public:
  explicit VirtualExecutor(std::string label = "virtual", TimePoint start = TimePoint(0));

  void post(Task task) override;
  DelayedTask postAt(TimePoint deadline, Task task) override;
  TimePoint now() const override;
  // True on the thread that created the executor.
  bool isCurrent() const override;
  const std::string& label() const override { return label_; }

  // Runs every task that is due now, including those they post; returns how
  // many ran.
  size_t runUntilIdle();
  // Moves the clock forward in steps to each deadline up to now + delta,
  // running what is due at each step.
  size_t advanceBy(Nanos delta);
  size_t advanceTo(TimePoint target);
  // The earliest pending deadline, or -1 when none.
  TimePoint nextDeadline() const;
  size_t pendingCount() const;

  // Runs, jumping the clock from deadline to deadline, until quit() is called
  // or nothing is left to run.
  int run() override;
  void quit(int status = 0) override;

 private:
  bool runOne();

  const std::string label_;
  const std::thread::id owner_;
  mutable std::mutex mutex_;
  TimePoint now_;
  // Posted work too, as due now: it keeps its order behind earlier due work.
  DeadlineQueue timers_;
  bool quit_ = false;
  int status_ = 0;
};

}  // namespace vistrelle::dispatch
