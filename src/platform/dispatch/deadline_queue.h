#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/dispatch/clock.h"
#include "platform/dispatch/delayed_task.h"
#include "platform/dispatch/task.h"

namespace vistrelle::dispatch {

// Tasks by deadline, ties in the order they were added: the one heap behind
// every queue's delayed work.  Entries whose handle was cancelled are skipped
// and, once they make up half the heap, swept out, so that a long deadline
// cancelled and re-armed again and again cannot grow it without bound.
// Not synchronised: its owner locks.
class DeadlineQueue {
 public:
  // Adds `task` (not empty); true when it is now the earliest.  `handle`, when
  // given, is the task's cancel handle.
  bool push(TimePoint deadline, Task task, DelayedTask handle = {});

  bool empty() const { return heap_.empty(); }
  // Entries held, cancelled ones not yet swept out included.
  size_t size() const { return heap_.size(); }
  // The earliest deadline; the queue must not be empty.
  TimePoint earliest() const { return heap_.front().deadline; }

  // Takes out the earliest task that is due at `now` and not cancelled; false
  // when there is none (cancelled entries met on the way are dropped).
  bool popDue(TimePoint now, Task& task);

  void swap(DeadlineQueue& other) noexcept;

 private:
  struct Entry {
    TimePoint deadline;
    uint64_t sequence;
    Task task;
    DelayedTask handle;
  };
  struct Later {
    bool operator()(const Entry& a, const Entry& b) const {
      return a.deadline != b.deadline ? a.deadline > b.deadline : a.sequence > b.sequence;
    }
  };
  void sweepCancelled();

  static constexpr size_t kMinSweep = 64;
  std::vector<Entry> heap_;
  uint64_t sequence_ = 0;
  size_t sweepAt_ = kMinSweep;
};

}  // namespace vistrelle::dispatch
