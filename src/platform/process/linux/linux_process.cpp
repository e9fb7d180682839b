#include "platform/process/linux/linux_process.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/process/linux/pidfd.h"

namespace vistrelle::process {

namespace {
// Reads per event before the queue gets a turn for other work.
constexpr int kReadsPerEvent = 16;
}  // namespace

LinuxProcess::LinuxProcess(Child child, size_t outputLimit, dispatch::ExecutorPtr reportQueue,
                           ProcessLauncher::ExitHandler onExit)
    : ProcessBase(std::move(reportQueue)),
      pid_(child.pid),
      pidfd_(std::move(child.pidfd)),
      onExit_(std::move(onExit)),
      output_(outputLimit),
      errorOutput_(outputLimit) {
  output_.fd = std::move(child.output);
  errorOutput_.fd = std::move(child.errorOutput);
}

std::shared_ptr<LinuxProcess> LinuxProcess::watch(Child child, const LaunchRequest& request,
                                                  dispatch::Reactor& reactor,
                                                  dispatch::SerialQueuePtr watchQueue,
                                                  dispatch::ExecutorPtr reportQueue,
                                                  ProcessLauncher::ExitHandler onExit) {
  std::shared_ptr<LinuxProcess> process(new LinuxProcess(
      std::move(child), request.outputLimit, std::move(reportQueue), std::move(onExit)));
  // The sources' handlers hold the process until it ended and they were
  // cancelled, so a dropped handle still gets its program reaped and reported.
  process->exitSource_ = reactor.makeReadSource(process->pidfd_.get(), watchQueue);
  process->exitSource_->setEventHandler([process] { process->onExited(); });
  process->startStream(process->output_, reactor, watchQueue);
  process->startStream(process->errorOutput_, reactor, watchQueue);
  process->exitSource_->resume();
  process->armTimeLimit(request);
  return process;
}

void LinuxProcess::startStream(Stream& stream, dispatch::Reactor& reactor,
                               const dispatch::SerialQueuePtr& queue) {
  if (!stream.fd) return;
  // Resumed through a reference of our own: once resumed, the watch queue
  // may reach the end of the stream and drop stream.source at any moment.
  dispatch::IoSourcePtr source = reactor.makeReadSource(stream.fd.get(), queue);
  stream.source = source;
  auto self = std::static_pointer_cast<LinuxProcess>(shared_from_this());
  source->setEventHandler([self, &stream] {
    if (!self->drain(stream)) self->closeStream(stream);
  });
  source->setCancelHandler([self, &stream] { stream.fd.reset(); });
  source->resume();
}

bool LinuxProcess::drain(Stream& stream) {
  if (!stream.fd) return false;
  char chunk[4096];
  for (int reads = 0; reads < kReadsPerEvent; ++reads) {
    const ssize_t n = ::read(stream.fd.get(), chunk, sizeof chunk);
    if (n > 0) {
      stream.buffer.append(chunk, static_cast<size_t>(n));
    } else if (n == 0) {
      return false;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      return true;
    } else if (errno != EINTR) {
      return false;
    }
  }
  return true;
}

void LinuxProcess::drainWhatIsThere(Stream& stream) {
  int pending = 0;
  if (!stream.fd || ioctl(stream.fd.get(), FIONREAD, &pending) != 0) return;
  char chunk[4096];
  while (pending > 0) {
    const ssize_t n =
        ::read(stream.fd.get(), chunk, std::min(sizeof chunk, static_cast<size_t>(pending)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    stream.buffer.append(chunk, static_cast<size_t>(n));
    pending -= static_cast<int>(n);
  }
}

void LinuxProcess::closeStream(Stream& stream) {
  if (stream.source) {
    stream.source->cancel();
    stream.source.reset();
  } else {
    stream.fd.reset();
  }
}

void LinuxProcess::sendSignal(int signal) {
  if (!running()) return;
  // ESRCH once it exited; the pidfd never names another process.
  sendPidfdSignal(pidfd_.get(), signal);
}

void LinuxProcess::onExited() {
  int status = 0;
  pid_t reaped;
  do {
    reaped = ::waitpid(pid_, &status, WNOHANG);
  } while (reaped < 0 && errno == EINTR);
  if (reaped == 0) return;  // not yet: the event will come again

  ProcessExit exit;
  if (reaped < 0) {
    // Someone else reaped it (SIGCHLD ignored, or a wait for any child):
    // the status is lost.
    exit.exitCode = -1;
  } else if (WIFSIGNALED(status)) {
    exit.signal = WTERMSIG(status);
  } else {
    exit.exitCode = WEXITSTATUS(status);
  }
  markEnded();
  exit.timedOut = timedOut();

  // What the program wrote before it ended is in the pipes now.  A
  // descendant that kept them open may write on for ever: take only what
  // is there and wait for nothing more.
  for (Stream* stream : {&output_, &errorOutput_}) {
    drainWhatIsThere(*stream);
    closeStream(*stream);
  }
  exit.output = output_.buffer.take();
  exit.errorOutput = errorOutput_.buffer.take();
  exit.outputTruncated = output_.buffer.truncated() || errorOutput_.buffer.truncated();

  exitSource_->cancel();
  reportQueue()->post([onExit = std::move(onExit_), exit = std::move(exit)] {
    if (onExit) onExit(exit);
  });
}

}  // namespace vistrelle::process
