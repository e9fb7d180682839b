#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "bench/platform/raw_queue.h"
#include "platform/dispatch/unique_fd.h"

namespace vistrelle::bench {

// A second, fairer baseline for the reactor: the same ping-pong as
// RawEpollPingPong, but built the way the runtime is, bare: one epoll thread
// with one-shot registrations hands each readable end to a RawQueue worker,
// which reads the byte, sends it back and re-arms the descriptor.  What the
// runtime costs beyond this is its own overhead; what this costs beyond the
// single-thread loop is the price of handing events to another thread.
class RawEpollHandoff {
 public:
  RawEpollHandoff();
  ~RawEpollHandoff();
  RawEpollHandoff(const RawEpollHandoff&) = delete;
  RawEpollHandoff& operator=(const RawEpollHandoff&) = delete;

  // Runs until `events` readable events have been handled.
  void run(int64_t events);

 private:
  void poll();
  void handle(uint32_t end);
  void arm(uint32_t end);

  dispatch::UniqueFd ends_[2];
  dispatch::UniqueFd epoll_;
  dispatch::UniqueFd quit_;
  std::atomic<int64_t> target_{0};
  std::atomic<int64_t> handled_{0};
  RawQueue worker_;
  std::thread poller_;
};

}  // namespace vistrelle::bench
