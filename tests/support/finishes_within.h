#pragma once

// Runs `work` on a thread of its own and waits for it at most `limit`.  On a
// time-out the thread is left behind, detached, so that a deadlock fails the
// test instead of hanging the run: `work` must hold what it uses by value
// (shared pointers), never by reference to the test's locals.

#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "support/bounded_latch.h"

namespace vistrelle::testing {

inline bool finishesWithin(std::chrono::milliseconds limit, std::function<void()> work) {
  auto done = std::make_shared<BoundedLatch>(1);
  std::thread thread([done, work = std::move(work)] {
    work();
    done->arrive();
  });
  const bool finished = done->waitFor(limit);
  if (finished) {
    thread.join();
  } else {
    thread.detach();
  }
  return finished;
}

}  // namespace vistrelle::testing
