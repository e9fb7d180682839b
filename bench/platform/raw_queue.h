#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <queue>
#include <thread>
#include <vector>

#include "platform/dispatch/clock.h"

namespace vistrelle::bench {

// The baseline the dispatch queues are measured against: one std::thread
// behind a mutex and a condition variable, with delayed tasks kept in a heap
// and waited for with wait_until on the monotonic clock.  Nothing else: no
// cancellation, no fairness between queues, no reactor.
class RawQueue {
 public:
  using Task = std::function<void()>;

  RawQueue();
  ~RawQueue();
  RawQueue(const RawQueue&) = delete;
  RawQueue& operator=(const RawQueue&) = delete;

  void post(Task task);
  void postAt(dispatch::TimePoint deadline, Task task);

 private:
  struct Timed {
    dispatch::TimePoint deadline;
    uint64_t sequence;
    Task task;
    bool operator>(const Timed& other) const {
      return deadline != other.deadline ? deadline > other.deadline : sequence > other.sequence;
    }
  };

  void run();

  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Task> tasks_;
  std::priority_queue<Timed, std::vector<Timed>, std::greater<>> timed_;
  uint64_t sequence_ = 0;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace vistrelle::bench
