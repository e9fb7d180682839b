#include <cmath>
#include <thread>

#include "netlocal/socket/socket_test_support.h"
#include "platform/dispatch/serial_queue.h"
#include "support/bounded_latch.h"
#include "support/finishes_within.h"

namespace vistrelle::netlocal::testing {
namespace {

using vistrelle::testing::BoundedLatch;
using vistrelle::testing::finishesWithin;

// Keeps a queue busy with one task until released.
struct BusyQueue {
  std::shared_ptr<BoundedLatch> entered = std::make_shared<BoundedLatch>(1);
  std::shared_ptr<BoundedLatch> released = std::make_shared<BoundedLatch>(1);

  void occupy(const dispatch::ExecutorPtr& queue) {
    queue->post([entered = entered, released = released] {
      entered->arrive();
      released->waitFor(std::chrono::seconds(20));
    });
    ASSERT_TRUE(entered->waitFor());
  }
  void release() { released->arrive(); }
};

TEST(GCDAsyncSocketState, GettersAnswerWhileTheSocketQueueIsBusy) {
  UniqueFd rawListener = rawListen();
  Fixture fixture;
  auto socketQueue = dispatch::makeSerialQueue("socket");
  auto socket = GCDAsyncSocket::create(fixture.delegate, fixture.delegateQueue, socketQueue);
  socket->setUserData(std::string("mine"));
  ASSERT_TRUE(socket->connectToHost("127.0.0.1", localPortOf(rawListener.get())));
  UniqueFd peer = rawAccept(rawListener.get());
  fixture.delegate->waitFor("connect");
  socket->readDataToLength(8, -1, 42);
  writeAll(peer.get(), "half");
  fixture.delegate->waitFor("readPartial");

  BusyQueue busy;
  busy.occupy(socketQueue);
  const uint16_t serverPort = localPortOf(peer.get());
  sockaddr_in ours{};
  socklen_t length = sizeof ours;
  ASSERT_EQ(getpeername(peer.get(), reinterpret_cast<sockaddr*>(&ours), &length), 0);
  const uint16_t ourPort = ntohs(ours.sin_port);
  auto delegate = fixture.delegate;
  auto delegateQueue = fixture.delegateQueue;
  const bool answered = finishesWithin(2s, [socket, serverPort, ourPort, delegate, delegateQueue] {
    EXPECT_TRUE(socket->isConnected());
    EXPECT_FALSE(socket->isDisconnected());
    EXPECT_FALSE(socket->isSecure());
    EXPECT_TRUE(socket->isIPv4());
    EXPECT_FALSE(socket->isIPv6());
    EXPECT_EQ(socket->connectedHost(), "127.0.0.1");
    EXPECT_EQ(socket->connectedPort(), serverPort);
    EXPECT_EQ(socket->connectedPort4(), serverPort);
    EXPECT_EQ(socket->localPort(), ourPort);
    EXPECT_EQ(socket->localPort4(), ourPort);
    EXPECT_EQ(socket->localPort6(), 0);
    EXPECT_EQ(GCDAsyncSocket::portFromAddress(socket->connectedAddress()), serverPort);
    EXPECT_EQ(GCDAsyncSocket::portFromAddress(socket->localAddress()), ourPort);
    EXPECT_EQ(socket->delegate(), delegate);
    EXPECT_EQ(socket->delegateQueue(), delegateQueue);
    EXPECT_TRUE(socket->isIPv4Enabled());
    EXPECT_EQ(std::any_cast<std::string>(socket->userData()), "mine");
    long tag = 0;
    size_t done = 0, total = 0;
    EXPECT_FLOAT_EQ(socket->progressOfReadReturningTag(&tag, &done, &total), 0.5f);
    EXPECT_EQ(tag, 42);
    EXPECT_TRUE(std::isnan(socket->progressOfWriteReturningTag(nullptr, nullptr, nullptr)));
  });
  busy.release();
  EXPECT_TRUE(answered) << "a getter waited for the socket queue";
  writeAll(peer.get(), "full");
  EXPECT_EQ(fixture.delegate->waitFor("read").data, "halffull");
}

TEST(GCDAsyncSocketState, DroppingTheLastReferenceNeverWaitsForTheSocketQueue) {
  UniqueFd rawListener = rawListen();
  Fixture fixture;
  auto socketQueue = dispatch::makeSerialQueue("socket");
  auto socket = GCDAsyncSocket::create(fixture.delegate, fixture.delegateQueue, socketQueue);
  ASSERT_TRUE(socket->connectToHost("127.0.0.1", localPortOf(rawListener.get())));
  UniqueFd peer = rawAccept(rawListener.get());
  fixture.delegate->waitFor("connect");
  fixture.delegate->clearSockets();

  BusyQueue busy;
  busy.occupy(socketQueue);
  const bool dropped =
      finishesWithin(2s, [socket = std::move(socket)]() mutable { socket.reset(); });
  EXPECT_TRUE(dropped) << "the destructor waited for the socket queue";
  // The teardown runs once the queue is free: the peer sees the end, and the
  // delegate hears of it once, without a socket.
  EXPECT_EQ(fixture.delegate->count("disconnect"), 0u);
  busy.release();
  EXPECT_TRUE(seesEndOfStream(peer.get()));
  auto event = fixture.delegate->waitFor("disconnect");
  EXPECT_TRUE(event.socketWasNull);
  EXPECT_FALSE(event.error);
  socketQueue->sync([] {});
  fixture.delegateQueue->sync([] {});
  EXPECT_EQ(fixture.delegate->count("disconnect"), 1u);
}

}  // namespace
}  // namespace vistrelle::netlocal::testing
