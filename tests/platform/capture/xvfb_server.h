// XvfbServer: a private virtual X server for one test, started on a free
// display number (Xvfb picks it and reports it through -displayfd) and
// stopped at the end. available() is false where Xvfb is not installed.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace vistrelle::testing {

class XvfbServer {
 public:
  XvfbServer(int width, int height, int depth = 24) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], 3);  // dup2 clears close-on-exec on the copy
      const std::string screen =
          std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(depth);
      execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", screen.c_str(), "-nolisten", "tcp",
             "-noreset", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    pollfd waiter{fds[0], POLLIN, 0};
    char c = 0;
    // Xvfb writes "N\n" once it accepts connections.
    while (pid_ > 0 && poll(&waiter, 1, 10000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n') {
      number += c;
    }
    close(fds[0]);
    if (!number.empty()) display_ = ":" + number;
  }
  ~XvfbServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
    }
  }
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  bool available() const { return !display_.empty(); }
  const std::string& display() const { return display_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
};

}  // namespace vistrelle::testing
