#pragma once

#include <stdint.h>
#include <time.h>

#ifdef __cplusplus
extern "C" {
#endif

// The clock's seconds × 1,000,000,000 + nanoseconds.  Clocks are named
// (CLOCK_MONOTONIC, CLOCK_REALTIME), never numbered.
uint64_t os_clock_get_ns(clockid_t clock);

#ifdef __cplusplus
}
#endif
