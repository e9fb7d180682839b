#include "platform/process/fake/fake_process_launcher.h"

namespace vistrelle::process {

void FakeProcessLauncher::script(const std::string& program, Script script) {
  std::lock_guard lock(mutex_);
  scripts_[program].push_back(std::move(script));
}

LaunchResult FakeProcessLauncher::launch(const LaunchRequest& request, dispatch::ExecutorPtr queue,
                                         ExitHandler onExit) {
  Script script;
  int pid = 0;
  {
    std::lock_guard lock(mutex_);
    launches_.push_back(request);
    if (request.argv.empty() || request.argv[0].empty()) return {nullptr, "no program to start"};
    auto found = scripts_.find(request.argv[0]);
    if (found != scripts_.end() && !found->second.empty()) {
      script = std::move(found->second.front());
      found->second.pop_front();
    }
    if (!script.startError.empty()) return {nullptr, script.startError};
    pid = nextPid_++;
  }
  auto process = std::make_shared<FakeProcess>(
      pid, request,
      FakeProcess::Behaviour{script.ignoresTerminate, script.output, script.errorOutput},
      std::move(queue), std::move(onExit));
  {
    std::lock_guard lock(mutex_);
    processes_.push_back(process);
  }
  process->start();
  if (!script.runsUntilEnded) process->exit(script.exitCode);
  return {process, {}};
}

std::vector<LaunchRequest> FakeProcessLauncher::launches() const {
  std::lock_guard lock(mutex_);
  return launches_;
}

std::vector<std::shared_ptr<FakeProcess>> FakeProcessLauncher::processes() const {
  std::lock_guard lock(mutex_);
  return processes_;
}

}  // namespace vistrelle::process
