#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/executor.h"

namespace vistrelle::dispatch {

// A small fixed set of worker threads.  It is the global queue (tasks run
// concurrently) and the place where serial queues run their tasks.  Its
// deadlines are kept here too: an idle worker sleeps until the earliest one.
class ThreadPool : public Executor {
 public:
  explicit ThreadPool(size_t workers, std::string label = "global");
  // May run on one of its own workers (a task held the last reference): that
  // worker then finishes on its own and is detached.
  ~ThreadPool() override;
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  // After stop(): refused (see reportPostAfterStop).
  void post(Task task) override;
  // Posts unless the workers have stopped; false then, the task dropped and
  // nothing reported (the caller reports under its own name).
  bool tryPost(Task task);
  DelayedTask postAt(TimePoint deadline, Task task) override;
  TimePoint now() const override;
  bool isCurrent() const override;
  // Inline once the workers have stopped: nothing else would ever run it.
  void sync(Task task) override;
  const std::string& label() const override;

  size_t workers() const { return workerCount_; }

  // Runs what is queued (deadlines still to come are dropped), then joins the
  // workers.  Safe from any thread and idempotent.  From one of its own
  // workers it only begins the stop: a worker cannot wait for itself, so a
  // later stop() from elsewhere, or the destructor, joins.
  void stop();
  // True once every worker has left: posts are refused from then on.
  bool stopped() const;
  bool isStopped() const override { return stopped(); }

 private:
  struct Core;
  static void work(const std::shared_ptr<Core>& core);
  bool onWorker() const;

  const size_t workerCount_;
  const std::shared_ptr<Core> core_;  // shared with the workers
  std::mutex joinMutex_;
  std::vector<std::thread> threads_;
  std::vector<std::thread::id> workerIds_;  // fixed once constructed
};

}  // namespace vistrelle::dispatch
