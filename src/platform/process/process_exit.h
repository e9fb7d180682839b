#pragma once

#include <string>

namespace vistrelle::process {

// How a program ended, with what it wrote when its output was captured.
struct ProcessExit {
  int exitCode = 0;              // the exit status; meaningful when signal is 0
  int signal = 0;                // the signal that ended it, 0 when it exited
  bool timedOut = false;         // ended by the request's time limit
  std::string output;            // standard output, at most the request's limit
  std::string errorOutput;       // standard error, likewise
  bool outputTruncated = false;  // either stream wrote more than the limit

  bool exited() const { return signal == 0; }
  bool succeeded() const { return signal == 0 && exitCode == 0; }
};

}  // namespace vistrelle::process
