#pragma once

#include <memory>

#include "platform/dispatch/clock.h"

namespace vistrelle::process {

// A started program.  Dropping the handle neither waits for nor ends the
// program: its exit is still reported.  Safe from any thread; signals sent
// after the program ended are ignored (they can never reach a recycled pid).
class Process {
 public:
  virtual ~Process() = default;

  virtual int pid() const = 0;
  // False once the program has ended (its report may still be on its way).
  virtual bool running() const = 0;

  // SIGTERM now and SIGKILL `grace` later if it is still running.
  virtual void terminate(dispatch::Nanos grace) = 0;
  // SIGKILL now.
  virtual void kill() = 0;
};

using ProcessPtr = std::shared_ptr<Process>;

}  // namespace vistrelle::process
