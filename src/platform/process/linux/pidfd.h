#pragma once

// pidfd calls through syscall(2): Debian 12's <sys/pidfd.h> declares them
// without C linkage, so C++ cannot link against them.

#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vistrelle::process {

inline int openPidfd(pid_t pid) {
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
}

inline int sendPidfdSignal(int pidfd, int signal) {
  return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0));
}

}  // namespace vistrelle::process
