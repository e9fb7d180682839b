#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/clock.h"

namespace vistrelle::process {

// What to start and how.  The program is started directly from `argv`, never
// through a shell, so no argument is ever split, expanded or executed.
struct LaunchRequest {
  // argv[0] is the program: a path, or a bare name looked up in PATH.
  std::vector<std::string> argv;

  // Standard input always reads /dev/null.  Standard output and error go to
  // /dev/null, or are kept (each up to outputLimit bytes, the rest read and
  // dropped so the program never stalls on a full pipe).
  bool captureOutput = false;
  size_t outputLimit = 64 * 1024;

  // When set, a program still running this long after its start (on the
  // report queue's clock) gets SIGTERM, and SIGKILL `killGrace` later.
  std::optional<dispatch::Nanos> timeLimit;
  dispatch::Nanos killGrace = std::chrono::seconds(2);
};

}  // namespace vistrelle::process
