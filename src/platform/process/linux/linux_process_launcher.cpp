#include "platform/process/linux/linux_process_launcher.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/dispatch/runtime.h"
#include "platform/dispatch/serial_queue.h"
#include "platform/process/linux/linux_process.h"
#include "platform/process/linux/pidfd.h"

namespace vistrelle::process {

namespace {

std::string describe(const std::string& what, int error) {
  return what + ": " + std::strerror(error);
}

struct FileActions {
  posix_spawn_file_actions_t actions;
  int error = 0;
  const bool initialised;
  FileActions() : initialised(posix_spawn_file_actions_init(&actions) == 0) {}
  ~FileActions() {
    if (initialised) posix_spawn_file_actions_destroy(&actions);
  }
  FileActions(const FileActions&) = delete;
  FileActions& operator=(const FileActions&) = delete;
  // Keeps the first failure.
  void check(int result) {
    if (error == 0) error = result;
  }
};

struct SpawnAttributes {
  posix_spawnattr_t attributes;
  int error = 0;
  const bool initialised;
  SpawnAttributes() : initialised(posix_spawnattr_init(&attributes) == 0) {}
  ~SpawnAttributes() {
    if (initialised) posix_spawnattr_destroy(&attributes);
  }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
  void check(int result) {
    if (error == 0) error = result;
  }
};

struct Pipe {
  dispatch::UniqueFd read, write;
  int open() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return errno;
    read.reset(fds[0]);
    write.reset(fds[1]);
    // Only our end is non-blocking; the child's stays as programs expect.
    if (fcntl(read.get(), F_SETFL, O_NONBLOCK) != 0) return errno;
    return 0;
  }
};

}  // namespace

LinuxProcessLauncher::LinuxProcessLauncher()
    : LinuxProcessLauncher(dispatch::Runtime::shared().reactor(),
                           dispatch::Runtime::shared().pool()) {}

LinuxProcessLauncher::LinuxProcessLauncher(dispatch::Reactor& reactor,
                                           std::shared_ptr<dispatch::ThreadPool> pool)
    : reactor_(reactor), pool_(std::move(pool)) {}

LaunchResult LinuxProcessLauncher::launch(const LaunchRequest& request, dispatch::ExecutorPtr queue,
                                          ExitHandler onExit) {
  LaunchResult result;
  if (request.argv.empty() || request.argv[0].empty()) {
    result.reason = "no program to start";
    return result;
  }
  const std::string& program = request.argv[0];
  for (const std::string& argument : request.argv) {
    // The kernel would cut the argument at the NUL: refuse rather than pass
    // on something else than was asked for.
    if (argument.find('\0') != std::string::npos) {
      result.reason = "cannot start \"" + program + "\": an argument holds a NUL byte";
      return result;
    }
  }
  if (!queue) {
    result.reason = "cannot start \"" + program + "\": no queue for its exit";
    return result;
  }

  Pipe output, errorOutput;
  if (request.captureOutput) {
    if (int error = output.open(); error != 0) {
      result.reason = describe("cannot start \"" + program + "\": pipe", error);
      return result;
    }
    if (int error = errorOutput.open(); error != 0) {
      result.reason = describe("cannot start \"" + program + "\": pipe", error);
      return result;
    }
  }

  FileActions files;
  SpawnAttributes attributes;
  if (!files.initialised || !attributes.initialised) {
    result.reason = "cannot start \"" + program + "\": out of memory";
    return result;
  }
  files.check(
      posix_spawn_file_actions_addopen(&files.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0));
  if (request.captureOutput) {
    files.check(
        posix_spawn_file_actions_adddup2(&files.actions, output.write.get(), STDOUT_FILENO));
    files.check(
        posix_spawn_file_actions_adddup2(&files.actions, errorOutput.write.get(), STDERR_FILENO));
  } else {
    files.check(
        posix_spawn_file_actions_addopen(&files.actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0));
    files.check(
        posix_spawn_file_actions_addopen(&files.actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0));
  }
  // Descriptors opened without O_CLOEXEC (by us or a library) stay ours.
  files.check(posix_spawn_file_actions_addclosefrom_np(&files.actions, STDERR_FILENO + 1));

  sigset_t empty;
  sigemptyset(&empty);
  sigset_t all;
  sigfillset(&all);
  sigdelset(&all, SIGKILL);
  sigdelset(&all, SIGSTOP);
  attributes.check(posix_spawnattr_setflags(&attributes.attributes,
                                            POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF));
  attributes.check(posix_spawnattr_setsigmask(&attributes.attributes, &empty));
  attributes.check(posix_spawnattr_setsigdefault(&attributes.attributes, &all));
  if (files.error != 0 || attributes.error != 0) {
    result.reason = describe("cannot start \"" + program + "\": posix_spawn set-up",
                             files.error != 0 ? files.error : attributes.error);
    return result;
  }

  std::vector<std::string> arguments = request.argv;
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  pid_t pid = -1;
  // posix_spawnp looks a bare name up in PATH and runs a path as it is; it
  // reports a failed exec (missing program, no permission) as its result.
  const int error =
      posix_spawnp(&pid, argv[0], &files.actions, &attributes.attributes, argv.data(), environ);
  output.write.reset();
  errorOutput.write.reset();
  if (error != 0) {
    result.reason = describe("cannot start \"" + program + "\"", error);
    return result;
  }

  dispatch::UniqueFd pidfd(openPidfd(pid));
  if (!pidfd) {
    // Without a pidfd nothing could notice its end: do not leave it behind.
    const int openError = errno;
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    result.reason = describe("cannot watch \"" + program + "\": pidfd_open", openError);
    return result;
  }

  LinuxProcess::Child child;
  child.pid = pid;
  child.pidfd = std::move(pidfd);
  child.output = std::move(output.read);
  child.errorOutput = std::move(errorOutput.read);
  result.process = LinuxProcess::watch(std::move(child), request, reactor_,
                                       dispatch::SerialQueue::create("process " + program, pool_),
                                       std::move(queue), std::move(onExit));
  return result;
}

}  // namespace vistrelle::process
