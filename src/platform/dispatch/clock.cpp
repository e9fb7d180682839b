#include "platform/dispatch/clock.h"

#include <time.h>

namespace vistrelle::dispatch {

TimePoint SteadyClock::now() const {
  return monotonicNow();
}

TimePoint SteadyClock::monotonicNow() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return Nanos(static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec);
}

}  // namespace vistrelle::dispatch
