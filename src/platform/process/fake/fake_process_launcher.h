#pragma once

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/process/fake/fake_process.h"
#include "platform/process/process_launcher.h"

namespace vistrelle::process {

// A launcher for tests: it starts nothing, records every request, and plays
// scripted programs.  An unscripted program exits 0 at once, writing nothing.
class FakeProcessLauncher final : public ProcessLauncher {
 public:
  struct Script {
    std::string startError;       // set: the launch fails with this reason
    bool runsUntilEnded = false;  // never exits by itself
    bool ignoresTerminate = false;
    int exitCode = 0;
    std::string output;  // what it writes to standard output
    std::string errorOutput;
  };

  // The next launch of `program` (argv[0]) plays `script`; several scripts
  // for one program play in order.
  void script(const std::string& program, Script script);

  LaunchResult launch(const LaunchRequest& request, dispatch::ExecutorPtr queue,
                      ExitHandler onExit) override;

  // Every request, refused ones included, in order.
  std::vector<LaunchRequest> launches() const;
  // The started programs, in order.
  std::vector<std::shared_ptr<FakeProcess>> processes() const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::deque<Script>> scripts_;
  std::vector<LaunchRequest> launches_;
  std::vector<std::shared_ptr<FakeProcess>> processes_;
  int nextPid_ = 10000;
};

}  // namespace vistrelle::process
