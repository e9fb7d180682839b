#pragma once

#include <functional>
#include <string>

#include "platform/dispatch/executor.h"
#include "platform/process/launch_request.h"
#include "platform/process/process.h"
#include "platform/process/process_exit.h"

namespace vistrelle::process {

struct LaunchResult {
  ProcessPtr process;  // null when the program could not be started
  std::string reason;  // why it could not be started

  explicit operator bool() const { return process != nullptr; }
};

// Starts programs.  Every program starts with an empty signal mask and every
// signal at its default action, whatever the calling thread has blocked or
// the process ignores, and inherits no descriptor beyond its three standard
// streams.  Nothing ever blocks waiting for a program: its end is noticed by
// the reactor and reported on a queue.
class ProcessLauncher {
 public:
  using ExitHandler = std::function<void(const ProcessExit&)>;

  virtual ~ProcessLauncher() = default;

  // Starts the program; `onExit` runs once on `queue` after it ended.  A
  // program that cannot be started (missing, not executable, no argv) gives
  // no process and the reason, and `onExit` never runs.
  virtual LaunchResult launch(const LaunchRequest& request, dispatch::ExecutorPtr queue,
                              ExitHandler onExit) = 0;
};

}  // namespace vistrelle::process
