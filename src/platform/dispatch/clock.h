#pragma once

#include <chrono>
#include <cstdint>

namespace vistrelle::dispatch {

// Monotonic time as nanoseconds since an arbitrary epoch (CLOCK_MONOTONIC for
// the real clock, zero for virtual clocks).  Every deadline in the runtime is
// one of these, so a wall-clock step never moves a timer.
using Nanos = std::chrono::nanoseconds;
using TimePoint = std::chrono::nanoseconds;

class Clock {
 public:
  virtual ~Clock() = default;
  virtual TimePoint now() const = 0;
};

// CLOCK_MONOTONIC.
class SteadyClock final : public Clock {
 public:
  TimePoint now() const override;
  static TimePoint monotonicNow();
};

}  // namespace vistrelle::dispatch
