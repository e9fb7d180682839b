#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/dispatch/stop_registration.h"

namespace vistrelle::dispatch {
class Executor;
class Reactor;
class Runtime;
class ThreadPool;
}  // namespace vistrelle::dispatch

namespace vistrelle::netlocal {

// Ties one socket to the dispatch runtime it was made under, and tells it
// whether that runtime still runs.
//
// A socket may outlive the runtime (one held in a static, as shared
// instances are).  Once the runtime has stopped, a post to its queues is a
// fault (debug builds stop there), and once it is gone its reactor is freed
// memory; the socket's readiness sources hold that reactor by reference.  So
// the link registers a stop with the runtime: while the queues still run, the
// stop closes the socket by its ordinary road (sources cancelled, descriptors
// closed, the delegate told) and marks the link stopped.  From then on the
// socket closes directly and touches neither the reactor nor a queue.
//
// Work-around kept inside the socket layer: dispatch::IoSource holds its
// event loop by reference with no liveness token of its own, so a source
// dropped after the reactor is gone reaches freed memory; closing every
// socket at the runtime's stop guarantees none is left by then.
class GCDAsyncSocketRuntimeLink {
 public:
  explicit GCDAsyncSocketRuntimeLink(dispatch::Runtime& runtime);
  GCDAsyncSocketRuntimeLink(const GCDAsyncSocketRuntimeLink&) = delete;
  GCDAsyncSocketRuntimeLink& operator=(const GCDAsyncSocketRuntimeLink&) = delete;

  // Registers the socket's stop with the runtime.  `closeSocket` runs on the
  // thread that stops the runtime, while its queues still run; the link is
  // marked stopped after it in any case (also when the socket is already
  // gone).
  [[nodiscard]] static dispatch::StopRegistration registerStop(
      dispatch::Runtime& runtime, const std::shared_ptr<GCDAsyncSocketRuntimeLink>& link,
      std::function<void()> closeSocket);

  // True until the runtime began to stop.
  bool live() const { return live_.load(std::memory_order_acquire); }
  // Runs `task` only while live, and keeps the runtime's stop from passing
  // this link until it returns: what `task` posts lands while the queues run.
  bool whileLive(const std::function<void()>& task);
  // Posts to `queue` while live; false (`task` dropped) otherwise.
  bool postWhileLive(const std::shared_ptr<dispatch::Executor>& queue, std::function<void()> task);
  void markStopped();

  // Only while live.
  dispatch::Reactor& reactor() const { return *reactor_; }
  const std::shared_ptr<dispatch::ThreadPool>& pool() const { return pool_; }

 private:
  dispatch::Reactor* const reactor_;
  const std::shared_ptr<dispatch::ThreadPool> pool_;
  std::mutex mutex_;
  std::atomic<bool> live_{true};
};

}  // namespace vistrelle::netlocal
