#pragma once

#include <thread>

#include "platform/dispatch/event_loop.h"

namespace vistrelle::dispatch {

// One thread that watches every descriptor and every deadline of the process'
// queues.  Handlers never run here: each source delivers on its own queue and
// each deadline posts its task to the queue that asked for it.
class Reactor {
 public:
  Reactor();
  ~Reactor();
  Reactor(const Reactor&) = delete;
  Reactor& operator=(const Reactor&) = delete;

  IoSourcePtr makeReadSource(int fd, ExecutorPtr queue);
  IoSourcePtr makeWriteSource(int fd, ExecutorPtr queue);

  // Runs `task` on the reactor thread at `deadline`; the task should only hand
  // work on to a queue.
  DelayedTask schedule(TimePoint deadline, Task task);
  TimePoint now() const { return loop_.now(); }
  bool isCurrent() const { return loop_.isCurrent(); }

  // Joins the thread; sources and deadlines left are dropped.  Idempotent.
  void stop();

 private:
  EventLoop loop_;
  std::thread thread_;
};

}  // namespace vistrelle::dispatch
