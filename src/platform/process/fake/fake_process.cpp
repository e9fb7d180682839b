#include "platform/process/fake/fake_process.h"

#include <signal.h>

#include "platform/process/bounded_output.h"

namespace vistrelle::process {

FakeProcess::FakeProcess(int pid, LaunchRequest request, Behaviour behaviour,
                         dispatch::ExecutorPtr reportQueue, ProcessLauncher::ExitHandler onExit)
    : ProcessBase(std::move(reportQueue)),
      pid_(pid),
      request_(std::move(request)),
      behaviour_(std::move(behaviour)),
      onExit_(std::move(onExit)) {}

std::vector<int> FakeProcess::signals() const {
  std::lock_guard lock(mutex_);
  return signals_;
}

void FakeProcess::sendSignal(int signal) {
  {
    std::lock_guard lock(mutex_);
    if (!running()) return;
    signals_.push_back(signal);
  }
  if (signal == SIGTERM && behaviour_.ignoresTerminate) return;
  end(0, signal);
}

void FakeProcess::end(int code, int signal) {
  ProcessLauncher::ExitHandler onExit;
  {
    std::lock_guard lock(mutex_);
    if (!markEnded()) return;
    onExit = std::move(onExit_);
  }
  ProcessExit exit;
  exit.exitCode = signal == 0 ? code : 0;
  exit.signal = signal;
  exit.timedOut = timedOut();
  if (request_.captureOutput) {
    BoundedOutput output(request_.outputLimit);
    BoundedOutput errorOutput(request_.outputLimit);
    output.append(behaviour_.output.data(), behaviour_.output.size());
    errorOutput.append(behaviour_.errorOutput.data(), behaviour_.errorOutput.size());
    exit.outputTruncated = output.truncated() || errorOutput.truncated();
    exit.output = output.take();
    exit.errorOutput = errorOutput.take();
  }
  reportQueue()->post([onExit = std::move(onExit), exit = std::move(exit)] {
    if (onExit) onExit(exit);
  });
}

}  // namespace vistrelle::process
