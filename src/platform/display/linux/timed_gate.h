#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace vistrelle::display {

// A lock whose wait has a deadline: one holder at a time.  Built on a
// condition variable rather than std::timed_mutex, whose timed wait
// (pthread_mutex_clocklock) ThreadSanitizer does not see, so that it
// reported every unlock after one as an unlock of an unlocked mutex.
class TimedGate {
 public:
  using Deadline = std::chrono::steady_clock::time_point;

  // Holds the gate from a successful enter() until it goes.
  class Pass {
   public:
    explicit Pass(TimedGate* gate) : gate_(gate) {}
    ~Pass() {
      if (gate_ != nullptr) gate_->leave();
    }
    Pass(Pass&& other) noexcept : gate_(other.gate_) { other.gate_ = nullptr; }
    Pass(const Pass&) = delete;
    Pass& operator=(const Pass&) = delete;
    Pass& operator=(Pass&&) = delete;
    explicit operator bool() const { return gate_ != nullptr; }

   private:
    TimedGate* gate_;
  };

  // A pass, or an empty one when the gate stayed taken until `deadline`.
  Pass enter(Deadline deadline);

 private:
  void leave();

  std::mutex mutex_;
  std::condition_variable free_;
  bool taken_ = false;
};

}  // namespace vistrelle::display
