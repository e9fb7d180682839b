#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <queue>
#include <thread>
#include <vector>

#include "platform/dispatch/executor.h"

namespace vistrelle::dispatch {

// A small fixed set of worker threads.  It is the global queue (tasks run
// concurrently) and the place where serial queues run their tasks.  Its
// deadlines are kept here too: an idle worker sleeps until the earliest one.
class ThreadPool : public Executor, public std::enable_shared_from_this<ThreadPool> {
 public:
  explicit ThreadPool(size_t workers, std::string label = "global");
  ~ThreadPool() override;

  void post(Task task) override;
  DelayedTask postAt(TimePoint deadline, Task task) override;
  TimePoint now() const override;
  bool isCurrent() const override;
  const std::string& label() const override { return label_; }

  size_t workers() const { return threads_.size(); }

  // Runs what is queued (deadlines still to come are dropped), then joins the
  // workers.  Idempotent.
  void stop();

 private:
  void work();

  const std::string label_;
  std::mutex mutex_;
  std::condition_variable ready_;
  struct Timer {
    TimePoint deadline;
    uint64_t sequence;
    Task task;
    bool operator>(const Timer& other) const {
      return deadline != other.deadline ? deadline > other.deadline : sequence > other.sequence;
    }
  };

  std::deque<Task> tasks_;
  std::priority_queue<Timer, std::vector<Timer>, std::greater<>> timers_;
  uint64_t timerSequence_ = 0;
  bool stopping_ = false;
  size_t idle_ = 0;
  std::vector<std::thread> threads_;
};

}  // namespace vistrelle::dispatch
