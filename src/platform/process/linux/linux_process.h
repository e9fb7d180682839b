#pragma once

#include <sys/types.h>

#include <memory>

#include "platform/dispatch/io_source.h"
#include "platform/dispatch/reactor.h"
#include "platform/dispatch/serial_queue.h"
#include "platform/dispatch/unique_fd.h"
#include "platform/process/bounded_output.h"
#include "platform/process/process_base.h"
#include "platform/process/process_launcher.h"

namespace vistrelle::process {

// A started child, watched through its pidfd on the reactor: no thread ever
// waits for it.  Its pidfd, its output pipes and its reaping are handled on a
// serial queue of its own; the report then goes to the caller's queue.
class LinuxProcess final : public ProcessBase {
 public:
  struct Child {
    pid_t pid = -1;
    dispatch::UniqueFd pidfd;
    dispatch::UniqueFd output;  // read ends of the capture pipes, or none
    dispatch::UniqueFd errorOutput;
  };

  // Starts watching; the handle keeps the pidfd open for as long as it
  // lives, so a signal can never reach another process that reused the pid.
  static std::shared_ptr<LinuxProcess> watch(Child child, const LaunchRequest& request,
                                             dispatch::Reactor& reactor,
                                             dispatch::SerialQueuePtr watchQueue,
                                             dispatch::ExecutorPtr reportQueue,
                                             ProcessLauncher::ExitHandler onExit);

  int pid() const override { return pid_; }

 private:
  struct Stream {
    explicit Stream(size_t limit) : buffer(limit) {}
    dispatch::UniqueFd fd;
    dispatch::IoSourcePtr source;
    BoundedOutput buffer;
  };

  LinuxProcess(Child child, size_t outputLimit, dispatch::ExecutorPtr reportQueue,
               ProcessLauncher::ExitHandler onExit);

  void sendSignal(int signal) override;
  void startStream(Stream& stream, dispatch::Reactor& reactor,
                   const dispatch::SerialQueuePtr& queue);
  // Reads a few chunks of what is there; false at end of file or on an error.
  bool drain(Stream& stream);
  // Reads what the pipe holds at this moment, and no more.
  void drainWhatIsThere(Stream& stream);
  void closeStream(Stream& stream);
  void onExited();

  const pid_t pid_;
  const dispatch::UniqueFd pidfd_;
  dispatch::IoSourcePtr exitSource_;
  ProcessLauncher::ExitHandler onExit_;
  // Used on the watch queue only.
  Stream output_;
  Stream errorOutput_;
};

}  // namespace vistrelle::process
