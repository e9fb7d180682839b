#pragma once

// Counts arrivals from any thread; the test waits for them with a time limit,
// so that a hang fails the test instead of stalling the run.

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace vistrelle::testing {

class BoundedLatch {
 public:
  explicit BoundedLatch(int expected) : remaining_(expected) {}

  void arrive() {
    std::lock_guard lock(mutex_);
    if (remaining_ > 0 && --remaining_ == 0) reached_.notify_all();
  }
  bool waitFor(std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    std::unique_lock lock(mutex_);
    return reached_.wait_for(lock, limit, [this] { return remaining_ == 0; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable reached_;
  int remaining_;
};

}  // namespace vistrelle::testing
