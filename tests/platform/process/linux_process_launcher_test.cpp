#include "platform/process/linux/linux_process_launcher.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/dispatch/reactor.h"
#include "platform/dispatch/serial_queue.h"
#include "platform/dispatch/thread_pool.h"
#include "platform/dispatch/unique_fd.h"
#include "platform/dispatch/virtual_executor.h"

namespace vistrelle::process {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;

// A folder of the test's own, removed with everything in it.
struct TemporaryFolder {
  std::filesystem::path path;
  TemporaryFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "process-test-XXXXXX").string();
    path = mkdtemp(pattern.data());
  }
  ~TemporaryFolder() { std::filesystem::remove_all(path); }
  size_t entries() const {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(path),
                                             std::filesystem::directory_iterator()));
  }
};

// The value of one "Name:\t..." line of /proc/<pid>/status text.
std::string statusField(const std::string& status, const std::string& name) {
  std::istringstream lines(status);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(name + ":", 0) == 0)
      return line.substr(line.find_first_not_of(" \t", name.size() + 1));
  }
  return "(missing)";
}

std::string readFile(const std::string& path) {
  std::ifstream file(path);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

class LinuxProcessLauncherTest : public ::testing::Test {
 protected:
  void TearDown() override {
    reactor_.stop();
    pool_->stop();
  }

  // Starts the program, drops the handle, and waits (bounded) for the report.
  std::optional<ProcessExit> run(LaunchRequest request) {
    auto done = std::make_shared<std::promise<ProcessExit>>();
    std::future<ProcessExit> exit = done->get_future();
    LaunchResult started = launcher_.launch(
        request, reports_, [done](const ProcessExit& report) { done->set_value(report); });
    if (!started) {
      ADD_FAILURE() << started.reason;
      return std::nullopt;
    }
    started.process.reset();
    if (exit.wait_for(10s) != std::future_status::ready) {
      ADD_FAILURE() << "no exit report for " << request.argv[0];
      return std::nullopt;
    }
    return exit.get();
  }

  static LaunchRequest captured(std::vector<std::string> argv) {
    LaunchRequest request;
    request.argv = std::move(argv);
    request.captureOutput = true;
    return request;
  }

  dispatch::Reactor reactor_;
  std::shared_ptr<dispatch::ThreadPool> pool_ = std::make_shared<dispatch::ThreadPool>(2);
  dispatch::SerialQueuePtr reports_ = dispatch::SerialQueue::create("reports", pool_);
  LinuxProcessLauncher launcher_{reactor_, pool_};
};

TEST_F(LinuxProcessLauncherTest, ArgumentsReachTheProgramUnchangedAndNoShellRunsThem) {
  TemporaryFolder folder;
  const std::string x = (folder.path / "x").string();
  const std::vector<std::string> arguments = {
      "two words",
      "$(touch " + x + ")",
      "`touch " + x + "`",
      "; touch " + x,
      "| touch " + x,
      "&& touch " + x,
      "*",
      "",
      "'quoted' \"too\"",
      "back\\slash",
      "line\nbreak",
      "$HOME",
  };
  std::vector<std::string> argv = {"printf", "[%s]\\n"};  // found through PATH
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  auto exit = run(captured(argv));
  ASSERT_TRUE(exit);
  EXPECT_TRUE(exit->succeeded()) << exit->errorOutput;
  std::string expected;
  for (const std::string& argument : arguments) expected += "[" + argument + "]\n";
  EXPECT_EQ(exit->output, expected);
  EXPECT_EQ(folder.entries(), 0u) << "an argument was run by a shell";
}

TEST_F(LinuxProcessLauncherTest, ProgramStartsWithAnEmptySignalMaskAndDefaultActions) {
  // As main has them: the termination signals blocked for the signalfd.
  sigset_t blocked, previousMask;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGINT);
  sigaddset(&blocked, SIGTERM);
  sigaddset(&blocked, SIGHUP);
  ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &blocked, &previousMask), 0);
  struct sigaction ignore {
  }, previousPipe{}, previousUsr1{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGPIPE, &ignore, &previousPipe);
  sigaction(SIGUSR1, &ignore, &previousUsr1);

  auto exit = run(captured({"/bin/cat", "/proc/self/status"}));

  sigaction(SIGUSR1, &previousUsr1, nullptr);
  sigaction(SIGPIPE, &previousPipe, nullptr);
  pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
  ASSERT_TRUE(exit);
  ASSERT_TRUE(exit->succeeded()) << exit->errorOutput;
  EXPECT_EQ(statusField(exit->output, "SigBlk"), "0000000000000000");
  // glibc's posix_spawn leaves its two reserved signals (32 and 33, below
  // SIGRTMIN, out of reach of sigaction) ignored; the child's glibc installs
  // its own handlers for them when it needs them.
  const uint64_t reserved = (uint64_t{1} << 31) | (uint64_t{1} << 32);
  EXPECT_EQ(std::stoull(statusField(exit->output, "SigIgn"), nullptr, 16) & ~reserved, 0u)
      << statusField(exit->output, "SigIgn");
}

TEST_F(LinuxProcessLauncherTest, ReportsHowTheProgramEnded) {
  struct Case {
    std::vector<std::string> argv;
    int exitCode;
    int signal;
    std::string output;
    std::string errorOutput;
  };
  const Case cases[] = {
      {{"/bin/true"}, 0, 0, "", ""},
      {{"/bin/sh", "-c", "exit 3"}, 3, 0, "", ""},
      {{"/bin/sh", "-c", "echo out; echo err >&2; exit 255"}, 255, 0, "out\n", "err\n"},
      {{"/bin/sh", "-c", "kill -USR1 $$"}, 0, SIGUSR1, "", ""},
  };
  for (const Case& c : cases) {
    auto exit = run(captured(c.argv));
    ASSERT_TRUE(exit) << c.argv.back();
    EXPECT_EQ(exit->exitCode, c.exitCode) << c.argv.back();
    EXPECT_EQ(exit->signal, c.signal) << c.argv.back();
    EXPECT_EQ(exit->output, c.output) << c.argv.back();
    EXPECT_EQ(exit->errorOutput, c.errorOutput) << c.argv.back();
    EXPECT_FALSE(exit->timedOut);
    EXPECT_FALSE(exit->outputTruncated);
  }
  // Not captured: nothing is kept.
  LaunchRequest discarded;
  discarded.argv = {"/bin/sh", "-c", "echo out; echo err >&2"};
  auto exit = run(discarded);
  ASSERT_TRUE(exit);
  EXPECT_TRUE(exit->succeeded());
  EXPECT_EQ(exit->output, "");
  EXPECT_EQ(exit->errorOutput, "");
}

TEST_F(LinuxProcessLauncherTest, CapturedOutputIsBoundedAndTheProgramNeverStalls) {
  // Far more than a pipe holds: the rest must be read and dropped, or the
  // program would block on its write and never exit.
  LaunchRequest request = captured({"/bin/sh", "-c", "head -c 3000000 /dev/zero | tr '\\0' a"});
  request.outputLimit = 24;
  auto exit = run(request);
  ASSERT_TRUE(exit);
  EXPECT_TRUE(exit->succeeded());
  EXPECT_EQ(exit->output, std::string(24, 'a'));
  EXPECT_TRUE(exit->outputTruncated);
}

TEST_F(LinuxProcessLauncherTest, ADescendantHoldingTheOutputOpenDelaysNoReport) {
  // As xdg-open leaves a browser behind: `yes` keeps the pipe open and
  // writes on for ever after the program itself ended.
  LaunchRequest request = captured({"/bin/sh", "-c", "yes & echo $! >&2; exit 3"});
  request.outputLimit = 1000;
  auto exit = run(request);
  ASSERT_TRUE(exit);
  EXPECT_EQ(exit->exitCode, 3);
  EXPECT_LE(exit->output.size(), 1000u);
  const pid_t descendant = std::atoi(exit->errorOutput.c_str());
  ASSERT_GT(descendant, 0) << exit->errorOutput;
  ::kill(descendant, SIGKILL);  // it dies of SIGPIPE anyway once our end is closed
}

TEST_F(LinuxProcessLauncherTest, ProgramInheritsNoDescriptorOfOurs) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);  // deliberately without O_CLOEXEC
  dispatch::UniqueFd high(fcntl(fds[0], F_DUPFD, 200));
  close(fds[0]);
  close(fds[1]);
  ASSERT_TRUE(high);
  auto exit = run(captured({"/bin/ls", "/proc/self/fd"}));
  ASSERT_TRUE(exit);
  // ls's own directory descriptor is 3.
  EXPECT_EQ(exit->output, "0\n1\n2\n3\n");
}

TEST_F(LinuxProcessLauncherTest, MissingOrUnrunnableProgramIsAClearError) {
  TemporaryFolder folder;
  const std::string notExecutable = (folder.path / "script").string();
  std::ofstream(notExecutable) << "#!/bin/sh\n";
  chmod(notExecutable.c_str(), 0644);
  struct Case {
    std::vector<std::string> argv;
    std::string reason;
  };
  const Case cases[] = {
      {{"/nonexistent/vistrelle-program"},
       "cannot start \"/nonexistent/vistrelle-program\": No such file or directory"},
      {{"vistrelle-no-such-program", "arg"},
       "cannot start \"vistrelle-no-such-program\": No such file or directory"},
      {{notExecutable}, "cannot start \"" + notExecutable + "\": Permission denied"},
      {{}, "no program to start"},
      {{"/bin/echo", std::string("a\0b", 3)},
       "cannot start \"/bin/echo\": an argument holds a NUL byte"},
  };
  for (const Case& c : cases) {
    bool reported = false;
    LaunchRequest request;
    request.argv = c.argv;
    LaunchResult result =
        launcher_.launch(request, reports_, [&reported](const ProcessExit&) { reported = true; });
    EXPECT_FALSE(result);
    EXPECT_EQ(result.reason, c.reason);
    reports_->sync([] {});
    EXPECT_FALSE(reported);
  }
}

// The pool has one worker: a program that never exits must not hold it.
TEST(LinuxProcessLauncherKill, ProgramThatNeverExitsHoldsNoThreadAndIsKilled) {
  dispatch::Reactor reactor;
  auto pool = std::make_shared<dispatch::ThreadPool>(1);
  auto reports = dispatch::SerialQueue::create("reports", pool);
  LinuxProcessLauncher launcher(reactor, pool);
  std::promise<ProcessExit> done;
  LaunchRequest request;
  request.argv = {"/bin/sleep", "1000"};
  LaunchResult started =
      launcher.launch(request, reports, [&done](const ProcessExit& exit) { done.set_value(exit); });
  ASSERT_TRUE(started) << started.reason;
  EXPECT_TRUE(started.process->running());

  std::promise<void> ran;
  pool->post([&ran] { ran.set_value(); });
  EXPECT_EQ(ran.get_future().wait_for(10s), std::future_status::ready);

  started.process->kill();
  auto exit = done.get_future();
  ASSERT_EQ(exit.wait_for(10s), std::future_status::ready);
  const ProcessExit report = exit.get();
  EXPECT_EQ(report.signal, SIGKILL);
  EXPECT_FALSE(report.timedOut);
  EXPECT_FALSE(started.process->running());
  started.process->terminate(1s);  // after the end: nothing to signal
  reactor.stop();
  pool->stop();
}

// The time limit runs on the report queue's clock: here a virtual one.
class LinuxProcessTimeLimitTest : public LinuxProcessLauncherTest {
 protected:
  // Runs the virtual queue until the report came or 10 s of real time passed.
  std::optional<ProcessExit> awaitReport() {
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!report_ && std::chrono::steady_clock::now() < end) {
      virtual_->runUntilIdle();
      if (!report_) std::this_thread::sleep_for(1ms);
    }
    return report_;
  }

  ProcessPtr start(std::vector<std::string> argv) {
    LaunchRequest request;
    request.argv = std::move(argv);
    request.timeLimit = 5s;
    request.killGrace = 2s;
    LaunchResult started =
        launcher_.launch(request, virtual_, [this](const ProcessExit& exit) { report_ = exit; });
    EXPECT_TRUE(started) << started.reason;
    return started.process;
  }

  std::shared_ptr<dispatch::VirtualExecutor> virtual_ =
      std::make_shared<dispatch::VirtualExecutor>();
  std::optional<ProcessExit> report_;
};

TEST_F(LinuxProcessTimeLimitTest, ProgramPastItsLimitIsTerminated) {
  ProcessPtr process = start({"/bin/sleep", "1000"});
  ASSERT_TRUE(process);
  virtual_->advanceBy(4s);
  EXPECT_TRUE(process->running());
  virtual_->advanceBy(1s);
  auto exit = awaitReport();
  ASSERT_TRUE(exit);
  EXPECT_EQ(exit->signal, SIGTERM);
  EXPECT_TRUE(exit->timedOut);
}

TEST_F(LinuxProcessTimeLimitTest, ProgramIgnoringTerminationIsKilledAfterTheGrace) {
  ProcessPtr process = start({"/bin/sh", "-c", "trap '' TERM; exec /bin/sleep 1000"});
  ASSERT_TRUE(process);
  // Wait (bounded) until the program ignores SIGTERM (bit 15 of SigIgn).
  const std::string status = "/proc/" + std::to_string(process->pid()) + "/status";
  const auto end = std::chrono::steady_clock::now() + 10s;
  while ((std::stoull(statusField(readFile(status), "SigIgn"), nullptr, 16) & (1u << 14)) == 0) {
    ASSERT_LT(std::chrono::steady_clock::now(), end) << "the trap never took";
    std::this_thread::sleep_for(1ms);
  }
  virtual_->advanceBy(5s);
  virtual_->advanceBy(1s);
  EXPECT_FALSE(report_);
  EXPECT_TRUE(process->running());
  virtual_->advanceBy(1s);
  auto exit = awaitReport();
  ASSERT_TRUE(exit);
  EXPECT_EQ(exit->signal, SIGKILL);
  EXPECT_TRUE(exit->timedOut);
}

}  // namespace
}  // namespace vistrelle::process
