#pragma once

#include "tracking/head_imu_clock.h"

namespace vistrelle::tracking {

// The system's clocks through os_clock_get_ns.
class SystemHeadImuClock final : public HeadImuClock {
 public:
  uint64_t get_ns(clockid_t clock) const override;
};

}  // namespace vistrelle::tracking
