#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/dispatch/main_queue.h"
#include "platform/dispatch/reactor.h"
#include "platform/dispatch/serial_queue.h"
#include "platform/dispatch/stop_registration.h"
#include "platform/dispatch/thread_pool.h"

namespace vistrelle::dispatch {

// The process' queues: the main queue it is given, the global queue (a small
// thread pool), the reactor, and named serial queues over the pool.  The
// process creates one at start; while it lives, Runtime::shared() and the
// free functions below reach it, as dispatch_get_main_queue() would.
// Destruction stops it as stop() does.
class Runtime {
 public:
  struct Options {
    size_t workers = 0;  // 0: one per core, at least 4
  };

  explicit Runtime(std::shared_ptr<MainQueue> mainQueue, Options options);
  explicit Runtime(std::shared_ptr<MainQueue> mainQueue)
      : Runtime(std::move(mainQueue), Options{}) {}
  ~Runtime();
  Runtime(const Runtime&) = delete;
  Runtime& operator=(const Runtime&) = delete;

  // The installed runtime; stops the process when there is none (a programming error).
  static Runtime& shared();
  static bool installed();

  const std::shared_ptr<MainQueue>& mainQueue() const { return main_; }
  ExecutorPtr globalQueue() const { return pool_; }
  const std::shared_ptr<ThreadPool>& pool() const { return pool_; }
  Reactor& reactor() { return *reactor_; }
  SerialQueuePtr makeSerialQueue(std::string label) const;

  // Each subsystem that starts threads, sockets or connections registers its
  // stop when it starts.  Safe from any thread.
  [[nodiscard]] StopRegistration registerStop(std::string name, std::function<void()> stop);
  // Runs the registered stops once each, latest first (see StopList::runAll).
  // Idempotent.
  void runStops();

  // Runs the stops, then stops the reactor and joins the pool's threads: a
  // post to the pool or a serial queue is refused from then on, and sync()
  // runs inline.  The runtime stays installed until destroyed.  Idempotent.
  void stop();

 private:
  std::shared_ptr<StopList> stops_;
  std::shared_ptr<MainQueue> main_;
  std::unique_ptr<Reactor> reactor_;
  std::shared_ptr<ThreadPool> pool_;
};

std::shared_ptr<MainQueue> mainQueue();
ExecutorPtr globalQueue();
SerialQueuePtr makeSerialQueue(std::string label);

}  // namespace vistrelle::dispatch
