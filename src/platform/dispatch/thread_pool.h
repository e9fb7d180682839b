#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dispatch/executor.h"

namespace vistrelle::dispatch {

class Reactor;

// A small fixed set of worker threads.  It is the global queue (tasks run
// concurrently) and the place where serial queues run their tasks.
class ThreadPool : public Executor, public std::enable_shared_from_this<ThreadPool> {
 public:
  ThreadPool(Reactor& reactor, size_t workers, std::string label = "global");
  ~ThreadPool() override;

  void post(Task task) override;
  DelayedTask postAt(TimePoint deadline, Task task) override;
  TimePoint now() const override;
  bool isCurrent() const override;
  const std::string& label() const override { return label_; }

  Reactor& reactor() const { return reactor_; }
  size_t workers() const { return threads_.size(); }

  // Runs what is queued, then joins the workers.  Idempotent.
  void stop();

 private:
  void work();

  Reactor& reactor_;
  const std::string label_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Task> tasks_;
  bool stopping_ = false;
  size_t idle_ = 0;
  std::vector<std::thread> threads_;
};

}  // namespace vistrelle::dispatch
