#include "platform/privileged/linux/pkexec_privileged_reader.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>

#include "platform/dispatch/reactor.h"
#include "platform/dispatch/serial_queue.h"
#include "platform/dispatch/thread_pool.h"
#include "platform/process/fake/fake_process_launcher.h"
#include "platform/process/linux/linux_process_launcher.h"

namespace vistrelle::privileged {
namespace {

using namespace std::chrono_literals;
using Outcome = PrivilegedReadResult::Outcome;

struct TemporaryFolder {
  std::filesystem::path path;
  TemporaryFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "privileged-test-XXXXXX").string();
    path = mkdtemp(pattern.data());
  }
  ~TemporaryFolder() { std::filesystem::remove_all(path); }

  std::string file(const std::string& name, const std::string& text, unsigned mode = 0644) const {
    const std::filesystem::path at = path / name;
    std::ofstream(at) << text;
    std::filesystem::permissions(at, std::filesystem::perms(mode));
    return at.string();
  }
};

class PkexecPrivilegedReaderTest : public ::testing::Test {
 protected:
  void TearDown() override {
    reactor_.stop();
    pool_->stop();
  }

  // Reads through a reader whose direct read is refused, as for a file of
  // another user, so that `pkexec` runs.
  PrivilegedReadResult readThrough(const std::string& pkexec, const std::string& path) {
    PkexecPrivilegedReader::Options options;
    options.launcher = launcher_;
    options.pkexec = pkexec;
    options.directRead = [](const std::string&) { return std::nullopt; };
    return read(PkexecPrivilegedReader(options), path);
  }
  PrivilegedReadResult read(PkexecPrivilegedReader reader, const std::string& path) {
    auto done = std::make_shared<std::promise<PrivilegedReadResult>>();
    std::future<PrivilegedReadResult> result = done->get_future();
    reader.read(path, queue_, [done](PrivilegedReadResult r) { done->set_value(std::move(r)); });
    if (result.wait_for(10s) != std::future_status::ready) {
      ADD_FAILURE() << "no result";
      return {};
    }
    return result.get();
  }
  // A stand-in pkexec: a shell script with the given body.
  std::string pkexec(const std::string& body) {
    return folder_.file("pkexec-" + std::to_string(++scripts_), "#!/bin/sh\n" + body + "\n", 0755);
  }

  TemporaryFolder folder_;
  dispatch::Reactor reactor_;
  std::shared_ptr<dispatch::ThreadPool> pool_ = std::make_shared<dispatch::ThreadPool>(2);
  dispatch::SerialQueuePtr queue_ = dispatch::SerialQueue::create("token", pool_);
  std::shared_ptr<process::LinuxProcessLauncher> launcher_ =
      std::make_shared<process::LinuxProcessLauncher>(reactor_, pool_);
  int scripts_ = 0;
};

TEST_F(PkexecPrivilegedReaderTest, PkexecRunsCatOnThePathAndItsOutputIsTrimmed) {
  const std::string token = folder_.file("authtoken.secret", "  abc123token\n\n");
  const std::string arguments = (folder_.path / "arguments").string();
  const std::string script = pkexec("printf '%s\\n' \"$@\" > '" + arguments + "'\nexec \"$@\"");
  const PrivilegedReadResult result = readThrough(script, token);
  EXPECT_EQ(result.outcome, Outcome::read);
  EXPECT_EQ(result.text, "abc123token");
  EXPECT_TRUE(result.prompted);
  std::ifstream recorded(arguments);
  const std::string argv((std::istreambuf_iterator<char>(recorded)), {});
  EXPECT_EQ(argv, "/bin/cat\n" + token + "\n");
}

TEST_F(PkexecPrivilegedReaderTest, PkexecExitStatusesNameTheOutcome) {
  struct Case {
    std::string body;
    Outcome outcome;
    std::string statusText;
  } const cases[] = {
      {"exit 126", Outcome::canceled, "Authorization Canceled"},
      {"exit 127", Outcome::denied, "Autorization Denied"},
      {"exit 1", Outcome::failed, "Unknown Error"},
      {"kill -9 $$", Outcome::failed, "Unknown Error"},
      // Longer than any secret: not taken for one, and not kept whole.
      {"head -c 5000 /dev/zero | tr '\\0' 'a'", Outcome::failed, "Unknown Error"},
  };
  for (const Case& c : cases) {
    const PrivilegedReadResult result = readThrough(pkexec(c.body), "/nonexistent");
    EXPECT_EQ(result.outcome, c.outcome) << c.body;
    EXPECT_EQ(result.statusText, c.statusText) << c.body;
    EXPECT_TRUE(result.text.empty()) << c.body;
    EXPECT_TRUE(result.prompted) << c.body;
  }
  // Exactly the limit is still a secret.
  const PrivilegedReadResult fits =
      readThrough(pkexec("head -c 4096 /dev/zero | tr '\\0' 'a'"), "/nonexistent");
  EXPECT_EQ(fits.outcome, Outcome::read);
  EXPECT_EQ(fits.text.size(), PrivilegedReader::kMaxBytes);
}

TEST_F(PkexecPrivilegedReaderTest, APkexecThatCannotStartIsNoPrompt) {
  const PrivilegedReadResult result =
      readThrough((folder_.path / "no-such-pkexec").string(), "/nonexistent");
  EXPECT_EQ(result.outcome, Outcome::notStarted);
  EXPECT_FALSE(result.prompted);
  EXPECT_FALSE(result.statusText.empty());
}

TEST_F(PkexecPrivilegedReaderTest, ADirectReadIsPreferredAndNeedsNoPrompt) {
  auto fake = std::make_shared<process::FakeProcessLauncher>();
  PkexecPrivilegedReader::Options options;
  options.launcher = fake;
  const std::string token = folder_.file("authtoken.secret", "direct-token\n", 0600);
  const PrivilegedReadResult direct = read(PkexecPrivilegedReader(options), token);
  EXPECT_EQ(direct.outcome, Outcome::read);
  EXPECT_EQ(direct.text, "direct-token");
  EXPECT_FALSE(direct.prompted);
  EXPECT_TRUE(fake->launches().empty());

  // A missing file or a folder fails at once: no prompt would help.
  for (const std::string& path : {(folder_.path / "missing").string(), folder_.path.string()}) {
    const PrivilegedReadResult failed = read(PkexecPrivilegedReader(options), path);
    EXPECT_EQ(failed.outcome, Outcome::failed) << path;
    EXPECT_FALSE(failed.prompted) << path;
  }
  EXPECT_TRUE(fake->launches().empty());

  // Refused for lack of permission: pkexec, with the path as its only
  // argument to cat.
  options.directRead = [](const std::string&) { return std::nullopt; };
  read(PkexecPrivilegedReader(options), token);
  ASSERT_EQ(fake->launches().size(), 1u);
  EXPECT_EQ(fake->launches()[0].argv,
            (std::vector<std::string>{"/usr/bin/pkexec", "/bin/cat", token}));
  EXPECT_TRUE(fake->launches()[0].captureOutput);
}

TEST_F(PkexecPrivilegedReaderTest, TheDirectReadIsBoundedAndKnowsAFileItMayNotRead) {
  const std::string large = folder_.file("large", std::string(4097, 'a'));
  EXPECT_EQ(PkexecPrivilegedReader::readDirectly(large)->outcome, Outcome::failed);
  const std::string fits = folder_.file("fits", std::string(4096, 'a'));
  EXPECT_EQ(PkexecPrivilegedReader::readDirectly(fits)->text.size(), 4096u);

  const std::string closed = folder_.file("closed", "secret", 0600);
  if (geteuid() != 0) {
    std::filesystem::permissions(closed, std::filesystem::perms::none);
    EXPECT_FALSE(PkexecPrivilegedReader::readDirectly(closed).has_value());
    return;
  }
  // Root reads anything: the refusal is seen from a child that became
  // "nobody" (the folder is root's, 0700).
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    _exit(PkexecPrivilegedReader::readDirectly(closed).has_value() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "cannot become nobody";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "a file it may not read was not taken for one";
}

TEST(TrimmedSecret, TrimsSpacesAndLineEndsOnBothSides) {
  EXPECT_EQ(trimmedSecret(" \t tok en\r\n"), "tok en");
  EXPECT_EQ(trimmedSecret("\n\n"), "");
  EXPECT_EQ(trimmedSecret(""), "");
  EXPECT_EQ(trimmedSecret("x"), "x");
}

}  // namespace
}  // namespace vistrelle::privileged
