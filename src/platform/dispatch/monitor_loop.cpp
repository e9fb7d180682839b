#include "platform/dispatch/monitor_loop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <chrono>
#include <stdexcept>
#include <system_error>

namespace vistrelle::dispatch {

MonitorLoop::MonitorLoop() : stopFd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  if (!stopFd_) throw std::system_error(errno, std::generic_category(), "monitor stop eventfd");
}

MonitorLoop::~MonitorLoop() = default;

void MonitorLoop::enter() {
  std::lock_guard lock(mutex_);
  if (running_) throw std::logic_error("the monitor is already running");
  running_ = true;
}

void MonitorLoop::leave() {
  uint64_t counter = 0;
  // Reading an empty eventfd fails with EAGAIN: there was no request to clear.
  [[maybe_unused]] ssize_t n = ::read(stopFd_.get(), &counter, sizeof counter);
  std::lock_guard lock(mutex_);
  running_ = false;
  // Notified under the lock: a destructor waiting in stopAndWait() cannot
  // return, and free this object, before the notification is done.
  idle_.notify_all();
}

void MonitorLoop::requestStop() {
  uint64_t one = 1;
  // Only an overflowing counter fails, and then a request is pending anyway.
  [[maybe_unused]] ssize_t n = ::write(stopFd_.get(), &one, sizeof one);
}

bool MonitorLoop::stopRequested() const {
  return waitForStop(Nanos{0});
}

bool MonitorLoop::waitForStop(Nanos timeout) const {
  using std::chrono::steady_clock;
  const auto start = steady_clock::now();
  // A far deadline saturates instead of overflowing the clock's arithmetic,
  // and a wait longer than poll() can take is made of several polls.
  const auto deadline = timeout >= steady_clock::time_point::max() - start
                            ? steady_clock::time_point::max()
                            : start + timeout;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - steady_clock::now() + std::chrono::microseconds(999));
    pollfd fd{stopFd_.get(), POLLIN, 0};
    int rc = ::poll(&fd, 1, static_cast<int>(std::clamp<int64_t>(left.count(), 0, INT_MAX)));
    if (rc > 0) return true;
    if (rc == 0) {
      if (steady_clock::now() >= deadline) return false;
      continue;
    }
    if (errno != EINTR) throw std::system_error(errno, std::generic_category(), "poll");
  }
}

void MonitorLoop::stopAndWait() {
  requestStop();
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return !running_; });
}

}  // namespace vistrelle::dispatch
