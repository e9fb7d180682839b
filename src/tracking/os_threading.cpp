#include "tracking/os_threading.h"

#include "tracking/tracking_check.h"

namespace vistrelle::tracking {

#define OS_THREADING_CHECK(expr) TRACKING_CHECK_AT("os_threading", expr, #expr)

int os_mutex_init(os_mutex* om) {
  OS_THREADING_CHECK(!om->initialized);
  const int result = pthread_mutex_init(&om->mutex, nullptr);
  if (result != 0) {
    return result;
  }
  om->initialized = true;
  om->recursive = false;
  return 0;
}

void os_mutex_lock(os_mutex* om) {
  OS_THREADING_CHECK(om->initialized);
  pthread_mutex_lock(&om->mutex);
}

void os_mutex_unlock(os_mutex* om) {
  OS_THREADING_CHECK(om->initialized);
  pthread_mutex_unlock(&om->mutex);
}

void os_mutex_destroy(os_mutex* om) {
  OS_THREADING_CHECK(om->initialized);
  OS_THREADING_CHECK(!om->recursive);
  pthread_mutex_destroy(&om->mutex);
  om->initialized = false;
  om->recursive = false;
}

}  // namespace vistrelle::tracking
