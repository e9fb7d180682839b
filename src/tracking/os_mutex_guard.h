#pragma once

#include "tracking/os_threading.h"

namespace vistrelle::tracking {

// Scoped hold of an os_mutex.
class OsMutexGuard {
 public:
  explicit OsMutexGuard(os_mutex* om) : om_(om) { os_mutex_lock(om_); }
  ~OsMutexGuard() { os_mutex_unlock(om_); }
  OsMutexGuard(const OsMutexGuard&) = delete;
  OsMutexGuard& operator=(const OsMutexGuard&) = delete;

 private:
  os_mutex* om_;
};

}  // namespace vistrelle::tracking
