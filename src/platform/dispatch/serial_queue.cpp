#include "platform/dispatch/serial_queue.h"

#include <future>

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
}  // namespace

std::shared_ptr<SerialQueue> SerialQueue::create(std::string label,
                                                 std::shared_ptr<ThreadPool> pool) {
  return std::shared_ptr<SerialQueue>(new SerialQueue(std::move(label), std::move(pool)));
}

SerialQueue::SerialQueue(std::string label, std::shared_ptr<ThreadPool> pool)
    : label_(std::move(label)), pool_(std::move(pool)) {}

SerialQueue::~SerialQueue() = default;

void SerialQueue::post(Task task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
    if (running_) return;
    running_ = true;
  }
  pool_->post([self = shared_from_this()] { self->drain(); });
}

DelayedTask SerialQueue::postAt(TimePoint deadline, Task task) {
  auto [handle, guarded] = DelayedTask::guard(std::move(task));
  pool_->postAt(deadline, [self = shared_from_this(), guarded = std::move(guarded)]() mutable {
    self->post(std::move(guarded));
  });
  return handle;
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

void SerialQueue::drain() {
  CurrentScope scope(this);
  for (int done = 0; done < kBatch; ++done) {
    Task task;
    {
      std::lock_guard lock(mutex_);
      if (tasks_.empty()) {
        running_ = false;
        return;
      }
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
  }
  pool_->post([self = shared_from_this()] { self->drain(); });
}

void SerialQueue::sync(Task task) {
  if (isCurrent()) {
    task();
    return;
  }
  {
    std::unique_lock lock(mutex_);
    if (!running_ && tasks_.empty()) {
      // Idle: take the queue for this thread, as a dispatch_sync would.
      running_ = true;
      lock.unlock();
      struct Release {
        SerialQueue* queue;
        ~Release() {
          std::lock_guard relock(queue->mutex_);
          queue->running_ = !queue->tasks_.empty();
          if (queue->running_) {
            queue->pool_->post([self = queue->shared_from_this()] { self->drain(); });
          }
        }
      } release{this};
      CurrentScope scope(this);
      task();
      return;
    }
  }
  Executor::sync(std::move(task));
}

}  // namespace vistrelle::dispatch
