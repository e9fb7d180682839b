#pragma once

#include <cstdint>

#include "platform/dispatch/unique_fd.h"

namespace vistrelle::bench {

// The reactor's baseline: one byte bounced between the two ends of a
// socketpair by a bare level-triggered epoll loop on the calling thread.
// Each event is one readable end: read the byte, send it back.
class RawEpollPingPong {
 public:
  RawEpollPingPong();

  // Runs until `events` readable events have been handled.
  void run(int64_t events);

 private:
  dispatch::UniqueFd ends_[2];
  dispatch::UniqueFd epoll_;
};

}  // namespace vistrelle::bench
