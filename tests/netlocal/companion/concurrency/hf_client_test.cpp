#include "netlocal/companion/hf_client.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/runtime.h"
#include "platform/dispatch/unique_fd.h"
#include "platform/dispatch/virtual_executor.h"

namespace vistrelle::netlocal {
namespace {

using namespace std::chrono_literals;
using dispatch::UniqueFd;

// What has arrived at `fd` so far, without waiting.
std::string takeAvailable(int fd) {
  std::string bytes;
  char chunk[4096];
  for (ssize_t n; (n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT)) > 0;) {
    bytes.append(chunk, static_cast<size_t>(n));
  }
  return bytes;
}

// A ping client on virtual time writing into one end of a socket pair.
struct Pair {
  std::shared_ptr<dispatch::VirtualExecutor> queue = std::make_shared<dispatch::VirtualExecutor>();
  std::mutex mutex;
  std::vector<std::string> errors;
  UniqueFd ours;
  UniqueFd peer;
  std::unique_ptr<HFClient> client;

  Pair() {
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    ours = UniqueFd(fds[0]);
    peer = UniqueFd(fds[1]);
    client = std::make_unique<HFClient>(HFClient::Options{queue, [this](const std::string& line) {
                                                            std::lock_guard lock(mutex);
                                                            errors.push_back(line);
                                                          }});
    client->setClientSocket(ours.get());
  }
  ~Pair() { client->stop(); }
};

TEST(HFClient, OneStreamWritesNumberedPingsEveryTwoMilliseconds) {
  Pair p;
  p.client->startClient();
  p.queue->runUntilIdle();
  EXPECT_EQ(takeAvailable(p.peer.get()), "Ping 0\n");
  p.queue->advanceBy(1ms);
  EXPECT_EQ(takeAvailable(p.peer.get()), "");
  p.queue->advanceBy(1ms);
  EXPECT_EQ(takeAvailable(p.peer.get()), "Ping 1\n");
  p.queue->advanceBy(20ms);
  EXPECT_EQ(takeAvailable(p.peer.get()),
            "Ping 2\nPing 3\nPing 4\nPing 5\nPing 6\nPing 7\nPing 8\nPing 9\nPing 10\nPing 11\n");
  EXPECT_EQ(p.client->streamCount(), 1u);
}

TEST(HFClient, EachStartAddsAStreamCountingFromZero) {
  Pair p;
  p.client->startSending();
  p.client->startSending();
  p.queue->runUntilIdle();
  EXPECT_EQ(takeAvailable(p.peer.get()), "Ping 0\nPing 0\n");
  p.queue->advanceBy(2ms);
  EXPECT_EQ(takeAvailable(p.peer.get()), "Ping 1\nPing 1\n");
  EXPECT_EQ(p.client->streamCount(), 2u);
}

TEST(HFClient, AClosedPeerEndsTheStreamWithOneWriteLine) {
  Pair p;
  p.client->startClient();
  p.queue->runUntilIdle();
  p.peer.reset();
  p.queue->advanceBy(20ms);
  EXPECT_EQ(p.client->streamCount(), 0u);
  std::lock_guard lock(p.mutex);
  ASSERT_EQ(p.errors.size(), 1u);
  EXPECT_EQ(p.errors[0].rfind("write: ", 0), 0u) << p.errors[0];
  EXPECT_EQ(p.queue->pendingCount(), 0u);
}

TEST(HFClient, UnsetDescriptorStartsNothing) {
  auto queue = std::make_shared<dispatch::VirtualExecutor>();
  HFClient client(HFClient::Options{queue, nullptr});
  EXPECT_EQ(client.clientSocket(), -1);
  client.startClient();
  queue->advanceBy(10ms);
  EXPECT_EQ(client.streamCount(), 0u);
  EXPECT_EQ(queue->pendingCount(), 0u);
}

TEST(HFClient, StopEndsEveryStream) {
  Pair p;
  for (int i = 0; i < 3; ++i) p.client->startClient();
  p.queue->advanceBy(4ms);
  takeAvailable(p.peer.get());
  p.client->stop();
  EXPECT_EQ(p.client->streamCount(), 0u);
  p.queue->advanceBy(10ms);
  EXPECT_EQ(takeAvailable(p.peer.get()), "");
}

TEST(HFClient, APeerThatDoesNotReadCostsPingsNotAThread) {
  Pair p;
  const int small = 4096;
  setsockopt(p.ours.get(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  p.client->startClient();
  p.queue->advanceBy(20s);  // thousands of pings into a full buffer
  EXPECT_EQ(p.client->streamCount(), 1u);
  std::lock_guard lock(p.mutex);
  EXPECT_TRUE(p.errors.empty());
}

TEST(HFClient, AnythingButASocketIsWrittenWithWrite) {
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  UniqueFd readEnd(fds[0]), writeEnd(fds[1]);
  auto queue = std::make_shared<dispatch::VirtualExecutor>();
  HFClient client(HFClient::Options{queue, nullptr});
  client.setClientSocket(writeEnd.get());
  client.startClient();
  queue->runUntilIdle();
  client.stop();
  char bytes[16] = {};
  EXPECT_EQ(::read(readEnd.get(), bytes, sizeof bytes), 7);
  EXPECT_STREQ(bytes, "Ping 0\n");
}

TEST(HFClient, StreamsOnTheRealGlobalQueue) {
  dispatch::Runtime runtime(std::make_shared<dispatch::VirtualExecutor>(),
                            dispatch::Runtime::Options{4});
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
  UniqueFd ours(fds[0]), peer(fds[1]);
  HFClient client;
  client.setClientSocket(ours.get());
  client.startClient();
  client.startClient();
  const auto count = [](const std::string& text, const std::string& line) {
    size_t n = 0;
    for (size_t at = 0; (at = text.find(line, at)) != std::string::npos; ++at) ++n;
    return n;
  };
  std::string received;
  const auto end = std::chrono::steady_clock::now() + 10s;
  while (count(received, "Ping 3\n") < 2 && std::chrono::steady_clock::now() < end) {
    pollfd entry{peer.get(), POLLIN, 0};
    ::poll(&entry, 1, 100);
    received += takeAvailable(peer.get());
  }
  client.stop();
  EXPECT_EQ(client.streamCount(), 0u);
  // Two streams, each counting from 0.
  EXPECT_EQ(count(received, "Ping 0\n"), 2u) << received;
  EXPECT_EQ(count(received, "Ping 3\n"), 2u) << received;
}

}  // namespace
}  // namespace vistrelle::netlocal
