// One application per user: the name is held while the holder lives, a later
// launch's request reaches the holder's queue once and is answered, and
// nothing a peer sends can make the holder act otherwise.

#include "platform/process/single_instance.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <atomic>
#include <cstring>
#include <string>

#include "platform/dispatch/serial_queue.h"
#include "platform/dispatch/thread_pool.h"
#include "support/bounded_latch.h"

namespace vistrelle {
namespace {

using namespace std::chrono_literals;
using Claim = SingleInstance::Claim;

std::string uniqueName(const char* what) {
  return "vistrelle-test-" + std::to_string(::getpid()) + "-" + what;
}

class SingleInstanceTest : public ::testing::Test {
 protected:
  void TearDown() override { pool_->stop(); }

  dispatch::Reactor reactor_;
  std::shared_ptr<dispatch::ThreadPool> pool_ = std::make_shared<dispatch::ThreadPool>(2);
  dispatch::SerialQueuePtr queue_ = dispatch::SerialQueue::create("main", pool_);
};

TEST_F(SingleInstanceTest, TheNameIsHeldWhileItsHolderLives) {
  const std::string name = uniqueName("held");
  {
    SingleInstance first(name);
    ASSERT_EQ(first.claim(), Claim::First) << first.failure();
    SingleInstance second(name);
    EXPECT_EQ(second.claim(), Claim::Taken);
    SingleInstance other(uniqueName("other"));
    EXPECT_EQ(other.claim(), Claim::First) << "another name is another application";
  }
  SingleInstance after(name);
  EXPECT_EQ(after.claim(), Claim::First) << "the name goes with its holder";
}

TEST_F(SingleInstanceTest, ALaterLaunchsReopenRunsOnTheHoldersQueueAndIsAnswered) {
  const std::string name = uniqueName("reopen");
  SingleInstance first(name);
  ASSERT_EQ(first.claim(), Claim::First);
  std::atomic<int> reopened{0};
  std::atomic<bool> onQueue{false};
  testing::BoundedLatch two(2);
  first.serve(reactor_, queue_, [&] {
    onQueue = queue_->isCurrent();
    ++reopened;
    two.arrive();
  });
  for (int launch = 0; launch < 2; ++launch) {
    SingleInstance later(name);
    ASSERT_EQ(later.claim(), Claim::Taken);
    EXPECT_TRUE(later.askFirstToReopen(5s)) << later.failure();
  }
  EXPECT_TRUE(two.waitFor());
  EXPECT_EQ(reopened.load(), 2);
  EXPECT_TRUE(onQueue.load());
}

TEST_F(SingleInstanceTest, AHolderThatDoesNotServeLeavesTheLaterLaunchWaitingNoLongerThanItsLimit) {
  const std::string name = uniqueName("silent");
  SingleInstance first(name);
  ASSERT_EQ(first.claim(), Claim::First);
  SingleInstance later(name);
  ASSERT_EQ(later.claim(), Claim::Taken);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(later.askFirstToReopen(200ms));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  EXPECT_FALSE(later.failure().empty());
}

TEST_F(SingleInstanceTest, AnythingButReopenIsClosedUnanswered) {
  const std::string name = uniqueName("junk");
  SingleInstance first(name);
  ASSERT_EQ(first.claim(), Claim::First);
  std::atomic<int> reopened{0};
  first.serve(reactor_, queue_, [&] { ++reopened; });

  for (const std::string& message :
       {std::string("reopen!"), std::string("hello"), std::string(20, 'x'), std::string("reop")}) {
    const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address),
                        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size())),
              0);
    ASSERT_EQ(::send(fd, message.data(), message.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(message.size()));
    timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    char answer[8];
    EXPECT_EQ(::recv(fd, answer, sizeof answer, 0), 0) << "closed, not answered: " << message;
    ::close(fd);
  }
  // Still serving.
  SingleInstance later(name);
  ASSERT_EQ(later.claim(), Claim::Taken);
  EXPECT_TRUE(later.askFirstToReopen(5s)) << later.failure();
  EXPECT_EQ(reopened.load(), 1);
}

TEST(SingleInstanceName, IsPerUserUnlessTheEnvironmentNamesOne) {
  unsetenv("VISTRELLE_INSTANCE_NAME");
  EXPECT_EQ(SingleInstance::nameForUser(), "vistrelle-" + std::to_string(::getuid()));
  setenv("VISTRELLE_INSTANCE_NAME", "", 1);
  EXPECT_EQ(SingleInstance::nameForUser(), "vistrelle-" + std::to_string(::getuid()));
  setenv("VISTRELLE_INSTANCE_NAME", "vistrelle-simulated", 1);
  EXPECT_EQ(SingleInstance::nameForUser(), "vistrelle-simulated");
  unsetenv("VISTRELLE_INSTANCE_NAME");
}

}  // namespace
}  // namespace vistrelle
