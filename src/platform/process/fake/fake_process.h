#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/process/launch_request.h"
#include "platform/process/process_base.h"
#include "platform/process/process_launcher.h"

namespace vistrelle::process {

// A program of the fake launcher: it records the signals sent to it and ends
// when its script says, when a test ends it, or on a signal (SIGTERM only
// when it does not ignore it).  Its report goes to the caller's queue, with
// its scripted output kept as the request asks.
class FakeProcess final : public ProcessBase {
 public:
  struct Behaviour {
    bool ignoresTerminate = false;
    std::string output;
    std::string errorOutput;
  };

  FakeProcess(int pid, LaunchRequest request, Behaviour behaviour,
              dispatch::ExecutorPtr reportQueue, ProcessLauncher::ExitHandler onExit);

  int pid() const override { return pid_; }
  const LaunchRequest& request() const { return request_; }
  std::vector<int> signals() const;

  // Ends the program as if it exited with `code`; ignored once it ended.
  void exit(int code) { end(code, 0); }
  // For the launcher, after the handle exists.
  void start() { armTimeLimit(request_); }

 private:
  void sendSignal(int signal) override;
  void end(int code, int signal);

  const int pid_;
  const LaunchRequest request_;
  const Behaviour behaviour_;
  mutable std::mutex mutex_;
  ProcessLauncher::ExitHandler onExit_;
  std::vector<int> signals_;
};

}  // namespace vistrelle::process
