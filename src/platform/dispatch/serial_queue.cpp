#include "platform/dispatch/serial_queue.h"

#include <exception>
#include <vector>

#include "platform/dispatch/post_after_stop.h"
#include "platform/dispatch/thread_pool.h"

namespace vistrelle::dispatch {

namespace {
// The serial queues whose task runs on this thread, innermost last (sync() on
// another queue from inside a task nests).
thread_local std::vector<const SerialQueue*> currentQueues;

struct CurrentScope {
  explicit CurrentScope(const SerialQueue* queue) { currentQueues.push_back(queue); }
  ~CurrentScope() { currentQueues.pop_back(); }
};

// Tasks run per turn on a pool thread before the queue yields it, so one busy
// queue cannot starve the others.
constexpr int kBatch = 64;

// A queue's task that throws ends the process wherever it runs, on a pool
// thread or on a thread helping in sync(); only the sync caller's own task
// hands its exception back.
void runTask(Task& task) noexcept {
  task();
  task = nullptr;  // captures go before the queue's lock is taken again
}
}  // namespace

std::shared_ptr<SerialQueue> SerialQueue::create(std::string label,
                                                 std::shared_ptr<ThreadPool> pool) {
  return std::shared_ptr<SerialQueue>(new SerialQueue(std::move(label), std::move(pool)));
}

SerialQueue::SerialQueue(std::string label, std::shared_ptr<ThreadPool> pool)
    : label_(std::move(label)), pool_(std::move(pool)) {}

SerialQueue::~SerialQueue() = default;

void SerialQueue::post(Task task) {
  bool schedule;
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
    schedule = !owned_ && !scheduled_;
    if (schedule) scheduled_ = true;
  }
  if (schedule) postDrain();
}

void SerialQueue::postDrain() {
  if (pool_->tryPost([self = shared_from_this()] { self->drain(); })) return;
  std::deque<Task> dropped;
  {
    std::lock_guard lock(mutex_);
    scheduled_ = false;
    if (!owned_) dropped.swap(tasks_);
  }
  reportPostAfterStop(label_);
}

DelayedTask SerialQueue::postAt(TimePoint deadline, Task task) {
  auto [handle, guarded] = DelayedTask::guard(std::move(task));
  if (pool_->stopped()) {
    handle.cancel();
    reportPostAfterStop(label_);
    return handle;
  }
  std::shared_ptr<DeadlineQueue> delayed;  // released after the lock
  DelayedTask replaced;
  {
    std::lock_guard lock(mutex_);
    delayed = delayed_.lock();
    if (!delayed) {
      delayed = std::make_shared<DeadlineQueue>();
      delayed_ = delayed;
    }
    if (delayed->push(deadline, std::move(guarded), handle)) {
      replaced = armWakeupLocked(deadline, delayed);
    }
  }
  replaced.cancel();
  return handle;
}

DelayedTask SerialQueue::armWakeupLocked(TimePoint deadline,
                                         const std::shared_ptr<DeadlineQueue>& delayed) {
  if (wakeupAt_ && *wakeupAt_ <= deadline) return {};
  wakeupAt_ = deadline;
  DelayedTask replaced = std::move(wakeup_);
  wakeup_ = pool_->postAt(deadline, [self = shared_from_this(), delayed] { self->wake(); });
  return replaced;
}

void SerialQueue::wake() {
  std::shared_ptr<DeadlineQueue> delayed;
  DelayedTask replaced;
  bool run;
  {
    std::lock_guard lock(mutex_);
    wakeupAt_.reset();
    delayed = delayed_.lock();
    if (delayed) {
      // In deadline order: tasks handed to the pool one by one could be
      // overtaken on the way by a later one on another thread.
      const TimePoint at = now();
      Task due;
      while (delayed->popDue(at, due)) tasks_.push_back(std::move(due));
      if (!delayed->empty()) replaced = armWakeupLocked(delayed->earliest(), delayed);
    }
    run = !tasks_.empty() && !owned_ && !scheduled_;
    if (run) scheduled_ = true;
  }
  replaced.cancel();
  // Already on a pool thread: take the turn here rather than hand it on.
  if (run) drain();
}

TimePoint SerialQueue::now() const {
  return SteadyClock::monotonicNow();
}

bool SerialQueue::isCurrent() const {
  for (const SerialQueue* queue : currentQueues) {
    if (queue == this) return true;
  }
  return false;
}

bool SerialQueue::releaseLocked() {
  owned_ = false;
  if (waiters_ > 0) changed_.notify_all();
  if (tasks_.empty() || scheduled_) return false;
  scheduled_ = true;
  return true;
}

void SerialQueue::drain() {
  std::unique_lock lock(mutex_);
  scheduled_ = false;
  // A sync caller has taken the queue over; it posts a drain if work is left.
  if (owned_) return;
  owned_ = true;
  {
    CurrentScope scope(this);
    for (int done = 0; done < kBatch && !tasks_.empty(); ++done) {
      Task task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      runTask(task);
      lock.lock();
    }
  }
  const bool repost = releaseLocked();
  lock.unlock();
  if (repost) postDrain();
}

void SerialQueue::sync(Task task) {
  if (isCurrent()) {
    task();
    return;
  }
  std::unique_lock lock(mutex_);
  if (!owned_ && tasks_.empty()) {
    // Idle: take the queue for this thread, as a dispatch_sync would.
    owned_ = true;
    lock.unlock();
    struct Release {
      SerialQueue* queue;
      ~Release() {
        std::unique_lock relock(queue->mutex_);
        const bool repost = queue->releaseLocked();
        relock.unlock();
        if (repost) queue->postDrain();
      }
    } release{this};
    CurrentScope scope(this);
    task();
    return;
  }

  // Busy: queue the task behind the others.  Whoever runs the queue sets
  // `done` once it has run.
  bool done = false;
  std::exception_ptr failure;
  tasks_.push_back([this, &task, &done, &failure] {
    try {
      task();
    } catch (...) {
      failure = std::current_exception();
    }
    std::lock_guard relock(mutex_);
    done = true;
    changed_.notify_all();
  });
  // A thread running the queue gets to it in turn; meanwhile it is making
  // progress, so waiting for it holds up nothing.  With no thread on the queue
  // (its drain is still waiting for a pool thread, perhaps for this very one,
  // or it yielded after a batch), run it here.
  ++waiters_;
  changed_.wait(lock, [&] { return done || !owned_; });
  --waiters_;
  bool repost = false;
  if (!done) {
    owned_ = true;
    {
      CurrentScope scope(this);
      while (!done) {
        Task next = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        runTask(next);
        lock.lock();
      }
    }
    repost = releaseLocked();
  }
  lock.unlock();
  if (repost) postDrain();
  if (failure) std::rethrow_exception(failure);
}

bool SerialQueue::isStopped() const {
  return pool_->stopped();
}

}  // namespace vistrelle::dispatch
