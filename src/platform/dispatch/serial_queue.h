#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/dispatch/deadline_queue.h"
#include "platform/dispatch/executor.h"

namespace vistrelle::dispatch {

class ThreadPool;

// A named queue that runs its tasks one at a time in the order they were
// posted, on whichever pool thread is free: many serial queues (one per socket,
// say) share the pool's few threads.  Delayed tasks run in deadline order.
// Queued work keeps the queue alive.
class SerialQueue : public Executor, public std::enable_shared_from_this<SerialQueue> {
 public:
  static std::shared_ptr<SerialQueue> create(std::string label, std::shared_ptr<ThreadPool> pool);
  ~SerialQueue() override;

  // After the pool stopped: refused (see reportPostAfterStop).
  void post(Task task) override;
  DelayedTask postAt(TimePoint deadline, Task task) override;
  TimePoint now() const override;
  bool isCurrent() const override;
  bool isStopped() const override;
  // Never parks the calling thread behind work that needs a pool thread: when
  // no thread is running the queue, the caller runs it itself up to and
  // including `task`; when one is, the caller waits for it, and takes over if
  // it yields the queue before reaching `task`.  So it also runs inline on an
  // idle queue and once the pool has stopped.
  void sync(Task task) override;
  const std::string& label() const override { return label_; }

 private:
  SerialQueue(std::string label, std::shared_ptr<ThreadPool> pool);

  // A pool turn: runs a batch, then yields the thread.
  void drain();
  // Hands a turn to the pool; once it has stopped, drops what is queued.
  void postDrain();
  // Moves the due delayed tasks into the queue and re-arms the wake-up.
  void wake();
  // mutex_ held; returns the wake-up it replaces, for cancelling unlocked.
  DelayedTask armWakeupLocked(TimePoint deadline, const std::shared_ptr<DeadlineQueue>& delayed);
  // mutex_ held, queue owned by the caller: gives it up; true when the caller
  // must post a drain.
  bool releaseLocked();

  const std::string label_;
  const std::shared_ptr<ThreadPool> pool_;
  std::mutex mutex_;
  std::condition_variable changed_;  // owner left, or a sync's task ran
  std::deque<Task> tasks_;
  bool owned_ = false;      // a thread is running the queue's tasks
  bool scheduled_ = false;  // a drain waits in the pool
  int waiters_ = 0;         // sync callers waiting on changed_

  // Delayed tasks wait here, in deadline order, until due.  The heap belongs
  // to the pool deadline armed for its earliest task: when a stopping pool
  // drops that deadline, the tasks go with it, and a task that holds its own
  // queue keeps nothing alive.
  std::weak_ptr<DeadlineQueue> delayed_;
  DelayedTask wakeup_;                 // that pool deadline
  std::optional<TimePoint> wakeupAt_;  // while armed
};

using SerialQueuePtr = std::shared_ptr<SerialQueue>;

}  // namespace vistrelle::dispatch
