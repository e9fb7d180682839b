#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>

#include "tracking/head_imu_clock.h"

namespace vistrelle::tracking {

// Clocks the test sets by hand.
class FakeHeadImuClock final : public HeadImuClock {
 public:
  uint64_t get_ns(clockid_t clock) const override {
    if (clock == CLOCK_MONOTONIC) {
      return monotonic.load();
    }
    if (clock == CLOCK_REALTIME) {
      return realtime.load();
    }
    ADD_FAILURE() << "unexpected clock " << clock;
    return 0;
  }

  void advance(uint64_t ns) {
    monotonic += ns;
    realtime += ns;
  }

  std::atomic<uint64_t> monotonic{1000000000000ull};  // 1000 s after boot
  std::atomic<uint64_t> realtime{1765000000000000000ull};
};

}  // namespace vistrelle::tracking
