#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/dispatch/executor.h"
#include "platform/process/launch_request.h"
#include "platform/process/process.h"

namespace vistrelle::process {

// What every backend's process shares: the time limit and the SIGKILL that
// follows a SIGTERM, both on the clock of the queue that gets the report (so
// a virtual-time queue drives them in tests), and the one-way end.
class ProcessBase : public Process, public std::enable_shared_from_this<ProcessBase> {
 public:
  bool running() const override { return !ended_.load(std::memory_order_acquire); }
  void terminate(dispatch::Nanos grace) override;
  void kill() override;

 protected:
  explicit ProcessBase(dispatch::ExecutorPtr reportQueue) : reportQueue_(std::move(reportQueue)) {}

  // Call once, after the program started.
  void armTimeLimit(const LaunchRequest& request);
  // The program ended: no further signal is sent and the timers are dropped.
  // False when it had already ended.
  bool markEnded();
  bool timedOut() const { return timedOut_.load(std::memory_order_acquire); }
  const dispatch::ExecutorPtr& reportQueue() const { return reportQueue_; }

  // Sends one signal to the program; a no-op once it ended.
  virtual void sendSignal(int signal) = 0;

 private:
  void addTimer(dispatch::DelayedTask timer);

  const dispatch::ExecutorPtr reportQueue_;
  std::atomic<bool> ended_{false};
  std::atomic<bool> timedOut_{false};
  std::mutex mutex_;
  std::vector<dispatch::DelayedTask> timers_;
};

}  // namespace vistrelle::process
