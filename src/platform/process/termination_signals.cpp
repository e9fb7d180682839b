#include "platform/process/termination_signals.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace vistrelle {

namespace {
sigset_t terminationSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}
}  // namespace

void TerminationSignals::blockInThisThread() {
  sigset_t set = terminationSet();
  if (int error = pthread_sigmask(SIG_BLOCK, &set, nullptr); error != 0) {
    throw std::system_error(error, std::generic_category(), "pthread_sigmask");
  }
}

TerminationSignals::TerminationSignals(dispatch::Reactor& reactor, dispatch::ExecutorPtr queue,
                                       std::function<void(int)> handler) {
  sigset_t set = terminationSet();
  fd_.reset(signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
  if (!fd_) throw std::system_error(errno, std::generic_category(), "signalfd");
  source_ = reactor.makeReadSource(fd_.get(), std::move(queue));
  const int fd = fd_.get();
  source_->setEventHandler([fd, handler = std::move(handler)] {
    signalfd_siginfo info{};
    while (::read(fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      handler(static_cast<int>(info.ssi_signo));
    }
  });
  source_->resume();
}

TerminationSignals::~TerminationSignals() {
  if (source_) source_->cancel();
}

}  // namespace vistrelle
