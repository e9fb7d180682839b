#pragma once

#include <memory>
#include <string>

#include "platform/dispatch/clock.h"
#include "platform/dispatch/delayed_task.h"
#include "platform/dispatch/task.h"

namespace vistrelle::dispatch {

// Where work runs: the main queue, the global queue, a named serial queue, or a
// virtual-time executor in tests.
class Executor : public Clock {
 public:
  ~Executor() override = default;

  virtual void post(Task task) = 0;
  // Runs `task` at or after `deadline` (on this executor's clock).
  virtual DelayedTask postAt(TimePoint deadline, Task task) = 0;
  DelayedTask postAfter(Nanos delay, Task task) { return postAt(now() + delay, std::move(task)); }

  // True while the calling thread is running a task of this executor.
  virtual bool isCurrent() const = 0;

  // Runs `task` on this executor and returns when it has run.  Runs inline when
  // the caller already is on it.
  virtual void sync(Task task);

  virtual const std::string& label() const;

  // True once the threads behind this executor have stopped for good: a post
  // would never run.
  virtual bool isStopped() const { return false; }
};

using ExecutorPtr = std::shared_ptr<Executor>;

}  // namespace vistrelle::dispatch
