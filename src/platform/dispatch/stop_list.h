#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/stop_registration.h"

namespace vistrelle::dispatch {

// The stops of the subsystems that start threads, sockets or connections, run
// at shutdown in reverse order of registration: what started last, and may
// lean on what started before it, stops first.
class StopList : public std::enable_shared_from_this<StopList> {
 public:
  [[nodiscard]] StopRegistration add(std::string name, std::function<void()> stop);

  // Runs every registered stop once, latest first, each on the calling thread
  // with no lock held; one registered meanwhile runs too.  A stop that throws
  // is reported on the standard error under its name, and the others still
  // run.  Returns once no stop is running on another thread either.
  // Idempotent.
  void runAll();

  void remove(uint64_t id);
  bool contains(uint64_t id) const;
  size_t size() const;

 private:
  struct Entry {
    uint64_t id;
    std::string name;
    std::function<void()> stop;
  };

  struct Running {
    uint64_t id;
    std::thread::id thread;
  };
  bool runningElsewhere(uint64_t id) const;  // mutex_ held; id 0: any

  mutable std::mutex mutex_;
  std::condition_variable finished_;
  std::vector<Entry> entries_;
  std::vector<Running> running_;
  uint64_t nextId_ = 1;
};

}  // namespace vistrelle::dispatch
