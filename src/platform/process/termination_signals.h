#pragma once

#include <functional>

#include "platform/dispatch/executor.h"
#include "platform/dispatch/io_source.h"
#include "platform/dispatch/reactor.h"
#include "platform/dispatch/unique_fd.h"

namespace vistrelle {

// Turns SIGINT, SIGTERM and SIGHUP into a call on a queue, so that the
// application ends through its one exit road instead of dying mid-write.
//
// blockInThisThread() must run in main() before any other thread starts, so
// every thread inherits the blocked mask and the signals wait in the
// signalfd.  Programs started through ProcessLauncher do not inherit it.
class TerminationSignals {
 public:
  static void blockInThisThread();

  TerminationSignals(dispatch::Reactor& reactor, dispatch::ExecutorPtr queue,
                     std::function<void(int signal)> handler);
  ~TerminationSignals();
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

 private:
  dispatch::UniqueFd fd_;
  dispatch::IoSourcePtr source_;
};

}  // namespace vistrelle
