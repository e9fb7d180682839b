#pragma once

// A child process for tests: started with an argument list and extra
// environment, its standard output captured, waited for with a time limit.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vistrelle::testing {

class ChildProcess {
 public:
  ChildProcess(std::vector<std::string> argv, std::vector<std::string> environment = {},
               bool captureOutput = true) {
    int pipeFds[2] = {-1, -1};
    if (captureOutput && pipe2(pipeFds, O_CLOEXEC) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      // Standard output and error together, so a failing test shows both.
      int devnull = open("/dev/null", O_RDWR);
      const int sink = captureOutput ? pipeFds[1] : devnull;
      dup2(sink, STDOUT_FILENO);
      dup2(sink, STDERR_FILENO);
      for (const auto& assignment : environment) putenv(const_cast<char*>(assignment.c_str()));
      std::vector<char*> args;
      for (auto& arg : argv) args.push_back(arg.data());
      args.push_back(nullptr);
      // Children must not inherit the test's blocked signals.
      sigset_t none;
      sigemptyset(&none);
      sigprocmask(SIG_SETMASK, &none, nullptr);
      execvp(args[0], args.data());
      _exit(127);
    }
    if (captureOutput) {
      close(pipeFds[1]);
      out_ = pipeFds[0];
      fcntl(out_, F_SETFL, O_NONBLOCK);
    }
  }
  ~ChildProcess() {
    if (pid_ > 0 && !status_) {
      // Politely first, so a server removes its socket and lock files.
      kill(pid_, SIGTERM);
      if (!waitExit(std::chrono::milliseconds(2000))) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
      }
    }
    if (out_ >= 0) close(out_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  void signal(int number) const { kill(pid_, number); }

  // The exit status, or none when it is still running after `limit`.
  std::optional<int> waitExit(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!status_) {
      int raw = 0;
      pid_t done = waitpid(pid_, &raw, WNOHANG);
      if (done == pid_) {
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        break;
      }
      drain();
      if (std::chrono::steady_clock::now() > end) return std::nullopt;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    drain();
    return status_;
  }

  const std::string& output() {
    drain();
    return output_;
  }

 private:
  void drain() {
    if (out_ < 0) return;
    char buffer[4096];
    ssize_t n;
    while ((n = read(out_, buffer, sizeof buffer)) > 0)
      output_.append(buffer, static_cast<size_t>(n));
  }

  pid_t pid_ = -1;
  int out_ = -1;
  std::string output_;
  std::optional<int> status_;
};

}  // namespace vistrelle::testing
