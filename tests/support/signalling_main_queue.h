#pragma once

// A main queue for tests whose work arrives from real threads (an HTTP
// worker, a server): a virtual-time executor that the test thread drains,
// and that wakes the test when something is posted, so that the test waits
// on the event with a bound instead of sleeping.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "platform/dispatch/virtual_executor.h"

namespace vistrelle::testing {

class SignallingMainQueue final : public dispatch::VirtualExecutor {
 public:
  explicit SignallingMainQueue(std::string label = "main") : VirtualExecutor(std::move(label)) {}

  void post(dispatch::Task task) override {
    VirtualExecutor::post(std::move(task));
    signal();
  }
  dispatch::DelayedTask postAt(dispatch::TimePoint deadline, dispatch::Task task) override {
    dispatch::DelayedTask handle = VirtualExecutor::postAt(deadline, std::move(task));
    signal();
    return handle;
  }

  // Runs what is due as it is posted, until `done` holds or `limit` (real
  // time) has passed; true when `done` held.  Virtual time does not move.
  bool runUntil(const std::function<bool()>& done,
                std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      uint64_t seen;
      {
        std::lock_guard lock(mutex_);
        seen = posts_;
      }
      runUntilIdle();
      if (done()) return true;
      std::unique_lock lock(mutex_);
      if (!posted_.wait_until(lock, deadline, [&] { return posts_ != seen; })) {
        lock.unlock();
        runUntilIdle();
        return done();
      }
    }
  }

  // Waits (bounded) until something is posted after `since` posts in all,
  // without running it.
  bool waitForPost(uint64_t since, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::unique_lock lock(mutex_);
    return posted_.wait_for(lock, limit, [&] { return posts_ > since; });
  }
  uint64_t postCount() const {
    std::lock_guard lock(mutex_);
    return posts_;
  }

 private:
  void signal() {
    {
      std::lock_guard lock(mutex_);
      ++posts_;
    }
    posted_.notify_all();
  }

  mutable std::mutex mutex_;
  std::condition_variable posted_;
  uint64_t posts_ = 0;
};

}  // namespace vistrelle::testing
