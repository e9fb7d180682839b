#include "platform/process/fake/fake_process_launcher.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <optional>

#include "platform/dispatch/virtual_executor.h"

namespace vistrelle::process {
namespace {

using namespace std::chrono_literals;

using Script = FakeProcessLauncher::Script;

Script exitsWith(int code, std::string output = {}, std::string errorOutput = {}) {
  Script script;
  script.exitCode = code;
  script.output = std::move(output);
  script.errorOutput = std::move(errorOutput);
  return script;
}

Script runsUntilEnded(bool ignoresTerminate = false) {
  Script script;
  script.runsUntilEnded = true;
  script.ignoresTerminate = ignoresTerminate;
  return script;
}

LaunchRequest request(std::vector<std::string> argv,
                      std::optional<dispatch::Nanos> timeLimit = std::nullopt,
                      dispatch::Nanos killGrace = 2s) {
  LaunchRequest request;
  request.argv = std::move(argv);
  request.timeLimit = timeLimit;
  request.killGrace = killGrace;
  return request;
}

class FakeProcessLauncherTest : public ::testing::Test {
 protected:
  LaunchResult launch(LaunchRequest request) {
    return launcher_.launch(request, queue_,
                            [this](const ProcessExit& exit) { reports_.push_back(exit); });
  }

  FakeProcessLauncher launcher_;
  std::shared_ptr<dispatch::VirtualExecutor> queue_ = std::make_shared<dispatch::VirtualExecutor>();
  std::vector<ProcessExit> reports_;
};

TEST_F(FakeProcessLauncherTest, RecordsRequestsAndPlaysScriptsInOrder) {
  launcher_.script("pkexec", exitsWith(0, "0123456789abcdefghijklmnopq"));
  launcher_.script("pkexec", exitsWith(126, "", "Not authorized"));
  Script missing;
  missing.startError = "cannot start \"xdg-open\": No such file";
  launcher_.script("xdg-open", missing);

  LaunchRequest token;
  token.argv = {"pkexec", "/bin/cat", "/var/lib/zerotier-one/authtoken.secret"};
  token.captureOutput = true;
  token.outputLimit = 24;
  ASSERT_TRUE(launch(token));
  ASSERT_TRUE(launch(token));
  LaunchResult open = launch(request({"xdg-open", "/tmp/a b.deb"}));
  EXPECT_FALSE(open);
  EXPECT_EQ(open.reason, "cannot start \"xdg-open\": No such file");
  ASSERT_TRUE(launch(request({"unscripted"})));

  ASSERT_EQ(launcher_.launches().size(), 4u);
  EXPECT_EQ(launcher_.launches()[0].argv, token.argv);
  EXPECT_EQ(launcher_.launches()[2].argv, (std::vector<std::string>{"xdg-open", "/tmp/a b.deb"}));
  EXPECT_TRUE(reports_.empty()) << "reported before the queue ran";

  queue_->runUntilIdle();
  ASSERT_EQ(reports_.size(), 3u);
  EXPECT_EQ(reports_[0].output, "0123456789abcdefghijklmn");
  EXPECT_TRUE(reports_[0].outputTruncated);
  EXPECT_EQ(reports_[1].exitCode, 126);
  EXPECT_EQ(reports_[1].errorOutput, "Not authorized");
  EXPECT_TRUE(reports_[2].succeeded());
}

TEST_F(FakeProcessLauncherTest, TimeLimitTerminatesThenKillsOnTheQueuesClock) {
  struct Case {
    bool ignoresTerminate;
    std::vector<int> signals;
    int endingSignal;
  };
  const Case cases[] = {{false, {SIGTERM}, SIGTERM}, {true, {SIGTERM, SIGKILL}, SIGKILL}};
  for (const Case& c : cases) {
    reports_.clear();
    launcher_.script("companion", runsUntilEnded(c.ignoresTerminate));
    LaunchResult started = launch(request({"companion"}, 10s, 3s));
    ASSERT_TRUE(started);
    auto process = launcher_.processes().back();
    queue_->advanceBy(9s);
    EXPECT_TRUE(reports_.empty());
    EXPECT_TRUE(process->signals().empty());
    queue_->advanceBy(4s);
    EXPECT_EQ(process->signals(), c.signals);
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_EQ(reports_[0].signal, c.endingSignal);
    EXPECT_TRUE(reports_[0].timedOut);
    EXPECT_FALSE(started.process->running());
  }
}

TEST_F(FakeProcessLauncherTest, ARunningProgramEndsOnceWhicheverWayComesFirst) {
  launcher_.script("companion", runsUntilEnded());
  LaunchResult started = launch(request({"companion"}, 10s));
  ASSERT_TRUE(started);
  auto process = launcher_.processes().back();
  process->exit(7);
  started.process->kill();
  queue_->advanceBy(60s);
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_EQ(reports_[0].exitCode, 7);
  EXPECT_FALSE(reports_[0].timedOut);
  EXPECT_TRUE(process->signals().empty());
}

}  // namespace
}  // namespace vistrelle::process
