#include "platform/dispatch/deadline_queue.h"

#include <algorithm>
#include <utility>

namespace vistrelle::dispatch {

namespace {
bool cancelled(const DelayedTask& handle) {
  return handle.valid() && handle.isCancelled();
}
}  // namespace

bool DeadlineQueue::push(TimePoint deadline, Task task, DelayedTask handle) {
  if (heap_.size() >= sweepAt_) sweepCancelled();
  heap_.push_back(Entry{deadline, sequence_++, std::move(task), std::move(handle)});
  std::push_heap(heap_.begin(), heap_.end(), Later{});
  return heap_.front().sequence == sequence_ - 1;
}

bool DeadlineQueue::popDue(TimePoint now, Task& task) {
  while (!heap_.empty() && heap_.front().deadline <= now) {
    std::pop_heap(heap_.begin(), heap_.end(), Later{});
    Entry entry = std::move(heap_.back());
    heap_.pop_back();
    if (cancelled(entry.handle)) continue;
    task = std::move(entry.task);
    return true;
  }
  return false;
}

void DeadlineQueue::swap(DeadlineQueue& other) noexcept {
  heap_.swap(other.heap_);
  std::swap(sequence_, other.sequence_);
  std::swap(sweepAt_, other.sweepAt_);
}

void DeadlineQueue::sweepCancelled() {
  // A cancelled entry holds only its emptied handle: dropping it here, under
  // the owner's lock, runs no task's destructors.
  std::erase_if(heap_, [](const Entry& entry) { return cancelled(entry.handle); });
  std::make_heap(heap_.begin(), heap_.end(), Later{});
  sweepAt_ = std::max(kMinSweep, heap_.size() * 2);
}

}  // namespace vistrelle::dispatch
