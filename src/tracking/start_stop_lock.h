#pragma once

#include <pthread.h>

namespace vistrelle::tracking {

// Shared for the module's data entry points, exclusive for start and stop.
// Writers are preferred: a steady stream of pushes from several threads
// must not keep a stop waiting for ever.  Meets SharedMutex, so
// std::shared_lock and std::unique_lock work on it.
class StartStopLock {
 public:
  StartStopLock();
  ~StartStopLock();
  StartStopLock(const StartStopLock&) = delete;
  StartStopLock& operator=(const StartStopLock&) = delete;

  void lock();
  void unlock();
  void lock_shared();
  void unlock_shared();

 private:
  pthread_rwlock_t lock_;
};

}  // namespace vistrelle::tracking
