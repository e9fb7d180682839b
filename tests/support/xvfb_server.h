#pragma once

// Gives a test an X display.  XvfbServer() takes the display in DISPLAY when
// one is set (scripts/test exports a shared one) and otherwise starts a
// private Xvfb; XvfbServer(width, height, depth) always starts a private one,
// for tests that change its screens.  A private server picks a free display
// number itself and reports it through -displayfd, so parallel tests never
// race for a number; it is stopped when the object goes.  available() is false
// where no display could be had (no Xvfb installed).

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace vistrelle::testing {

class XvfbServer {
 public:
  XvfbServer() {
    if (const char* existing = std::getenv("DISPLAY"); existing && *existing) {
      display_ = existing;
      return;
    }
    start("1920x1080x24");
  }
  XvfbServer(int width, int height, int depth = 24) {
    start(std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(depth));
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
  // Empty when no display could be had.
  const std::string& display() const { return display_; }

 private:
  void start(const std::string& screen) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], 3);  // dup2 clears close-on-exec on the copy
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

  pid_t pid_ = -1;
  std::string display_;
};

}  // namespace vistrelle::testing
