#pragma once

#include <deque>
#include <memory>
#include <mutex>

#include "platform/dispatch/executor.h"

namespace vistrelle::dispatch {

class ThreadPool;

// A named queue that runs its tasks one at a time in the order they were
// posted, on whichever pool thread is free: many serial queues (one per socket,
// say) share the pool's few threads.  Queued work keeps the queue alive.
class SerialQueue : public Executor, public std::enable_shared_from_this<SerialQueue> {
 public:
  static std::shared_ptr<SerialQueue> create(std::string label, std::shared_ptr<ThreadPool> pool);
  ~SerialQueue() override;

  void post(Task task) override;
  DelayedTask postAt(TimePoint deadline, Task task) override;
  TimePoint now() const override;
  bool isCurrent() const override;
  // Runs on the calling thread when the queue is idle, as a barrier otherwise.
  void sync(Task task) override;
  const std::string& label() const override { return label_; }

 private:
  SerialQueue(std::string label, std::shared_ptr<ThreadPool> pool);
  void drain();

  const std::string label_;
  const std::shared_ptr<ThreadPool> pool_;
  std::mutex mutex_;
  std::deque<Task> tasks_;
  bool running_ = false;
};

using SerialQueuePtr = std::shared_ptr<SerialQueue>;

}  // namespace vistrelle::dispatch
