#include "tracking/system_head_imu_clock.h"

#include "tracking/os_time.h"

namespace vistrelle::tracking {

uint64_t SystemHeadImuClock::get_ns(clockid_t clock) const {
  return os_clock_get_ns(clock);
}

}  // namespace vistrelle::tracking
