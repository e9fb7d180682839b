#pragma once

#include <memory>

#include "platform/dispatch/reactor.h"
#include "platform/dispatch/thread_pool.h"
#include "platform/process/process_launcher.h"

namespace vistrelle::process {

// Starts programs with posix_spawn: the child gets an empty signal mask and
// default actions for every signal (main blocks the termination signals for
// its signalfd, and a mask survives exec), standard input from /dev/null,
// and no descriptor of ours beyond its standard streams.  Each child is
// watched through a pidfd on the reactor.
class LinuxProcessLauncher final : public ProcessLauncher {
 public:
  // On the installed runtime's reactor and pool.
  LinuxProcessLauncher();
  LinuxProcessLauncher(dispatch::Reactor& reactor, std::shared_ptr<dispatch::ThreadPool> pool);

  LaunchResult launch(const LaunchRequest& request, dispatch::ExecutorPtr queue,
                      ExitHandler onExit) override;

 private:
  dispatch::Reactor& reactor_;
  const std::shared_ptr<dispatch::ThreadPool> pool_;
};

}  // namespace vistrelle::process
