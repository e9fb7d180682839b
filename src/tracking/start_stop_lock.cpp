#include "tracking/start_stop_lock.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace vistrelle::tracking {
namespace {

void throw_if_failed(int result, const char* what) {
  if (result != 0) {
    throw std::runtime_error(std::string(what) + ": " + std::strerror(result));
  }
}

}  // namespace

StartStopLock::StartStopLock() {
  pthread_rwlockattr_t attr;
  throw_if_failed(pthread_rwlockattr_init(&attr), "pthread_rwlockattr_init");
  pthread_rwlockattr_setkind_np(&attr, PTHREAD_RWLOCK_PREFER_WRITER_NONRECURSIVE_NP);
  const int result = pthread_rwlock_init(&lock_, &attr);
  pthread_rwlockattr_destroy(&attr);
  throw_if_failed(result, "pthread_rwlock_init");
}

StartStopLock::~StartStopLock() {
  pthread_rwlock_destroy(&lock_);
}

void StartStopLock::lock() {
  throw_if_failed(pthread_rwlock_wrlock(&lock_), "pthread_rwlock_wrlock");
}

void StartStopLock::unlock() {
  pthread_rwlock_unlock(&lock_);
}

void StartStopLock::lock_shared() {
  throw_if_failed(pthread_rwlock_rdlock(&lock_), "pthread_rwlock_rdlock");
}

void StartStopLock::unlock_shared() {
  pthread_rwlock_unlock(&lock_);
}

}  // namespace vistrelle::tracking
