#pragma once

#include <pthread.h>

namespace vistrelle::tracking {

// A plain, non-recursive mutex that tracks its own life: locking one that was
// never initialised, initialising one twice or destroying one in use as a
// recursive mutex are programming errors that stop the process.
struct os_mutex {
  pthread_mutex_t mutex{};
  bool initialized = false;
  bool recursive = false;
};

// Returns 0 on success, else the error number from the system.
int os_mutex_init(os_mutex* om);
void os_mutex_lock(os_mutex* om);
void os_mutex_unlock(os_mutex* om);
void os_mutex_destroy(os_mutex* om);

}  // namespace vistrelle::tracking
