#pragma once

#include <cstdint>
#include <ctime>

namespace vistrelle::tracking {

// Where the head-IMU module reads its clocks, so tests can drive time.
class HeadImuClock {
 public:
  virtual ~HeadImuClock() = default;
  // Nanoseconds of the named clock (CLOCK_MONOTONIC or CLOCK_REALTIME).
  virtual uint64_t get_ns(clockid_t clock) const = 0;
};

}  // namespace vistrelle::tracking
