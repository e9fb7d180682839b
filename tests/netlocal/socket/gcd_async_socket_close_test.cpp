#include <thread>

#include "netlocal/socket/socket_test_support.h"

namespace vistrelle::netlocal::testing {
namespace {

TEST(GCDAsyncSocketClose, ReleasingAConnectedSocketGivesOneNoticeWithoutSocketOrError) {
  AcceptedPair pair;
  ASSERT_TRUE(pair.socket);
  pair.socket.reset();  // the last reference
  auto event = pair.delegate().waitFor("disconnect");
  EXPECT_TRUE(event.socketWasNull);
  EXPECT_FALSE(event.error);
  EXPECT_TRUE(seesEndOfStream(pair.peer.get()));
  pair.fixture.delegateQueue->sync([] {});
  EXPECT_EQ(pair.delegate().count("disconnect"), 1u);
}

// Every road to a close gives one notice, and only one.
struct Road {
  const char* name;
  std::function<void(AcceptedPair&)> drive;
  int expectedCode;  // 0: no error
};

class GCDAsyncSocketCloseRoads : public ::testing::TestWithParam<Road> {};

TEST_P(GCDAsyncSocketCloseRoads, ExactlyOneDisconnectNotice) {
  const Road& road = GetParam();
  AcceptedPair pair;
  ASSERT_TRUE(pair.socket);
  road.drive(pair);
  auto event = pair.delegate().waitFor("disconnect");
  if (road.expectedCode == 0) {
    EXPECT_FALSE(event.error) << event.error->describe();
  } else {
    ASSERT_TRUE(event.error);
    EXPECT_EQ(event.error->code(), road.expectedCode) << event.error->describe();
  }
  // Whatever else the road does afterwards must not produce a second notice.
  pair.socket->disconnect();
  pair.peer.reset();
  pair.settle();
  std::this_thread::sleep_for(20ms);
  pair.settle();
  EXPECT_EQ(pair.delegate().count("disconnect"), 1u);
  EXPECT_TRUE(pair.socket->isDisconnected());
}

INSTANTIATE_TEST_SUITE_P(
    Roads, GCDAsyncSocketCloseRoads,
    ::testing::Values(
        Road{"disconnect", [](AcceptedPair& p) { p.socket->disconnect(); }, 0},
        Road{"disconnectTwice",
             [](AcceptedPair& p) {
               p.socket->disconnect();
               p.socket->disconnect();
             },
             0},
        Road{"peerCloses", [](AcceptedPair& p) { p.peer.reset(); }, GCDAsyncSocketClosedError},
        Road{"peerResets", [](AcceptedPair& p) { resetConnection(p.peer); },
             GCDAsyncSocketClosedError},
        Road{"readTimeout",
             [](AcceptedPair& p) { p.socket->readDataToData(GCDAsyncSocket::LFData(), 0.02, 0); },
             GCDAsyncSocketReadTimeoutError},
        Road{"maxedOut",
             [](AcceptedPair& p) {
               p.socket->readDataToData(GCDAsyncSocket::LFData(), -1, 4, 0);
               writeAll(p.peer.get(), "too long");
             },
             GCDAsyncSocketReadMaxedOutError},
        Road{"disconnectAfterWriting",
             [](AcceptedPair& p) {
               p.socket->writeData(toBytes("bye"), -1, 0);
               p.socket->disconnectAfterWriting();
             },
             0},
        Road{"disconnectAfterReading",
             [](AcceptedPair& p) {
               p.socket->readDataToLength(2, -1, 0);
               p.socket->disconnectAfterReading();
               writeAll(p.peer.get(), "ok");
             },
             0},
        Road{"disconnectAfterReadingAndWriting",
             [](AcceptedPair& p) {
               p.socket->readDataToLength(2, -1, 0);
               p.socket->writeData(toBytes("bye"), -1, 0);
               p.socket->disconnectAfterReadingAndWriting();
               writeAll(p.peer.get(), "ok");
             },
             0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GCDAsyncSocketClose, DisconnectAfterWritingDeliversEverythingThenEnds) {
  AcceptedPair pair;
  ASSERT_TRUE(pair.socket);
  const std::string payload = pattern(2 << 20);
  pair.socket->writeData(toBytes(payload), -1, 1);
  pair.socket->disconnectAfterWriting();
  // Forbidden after the request: never written, no completion.
  pair.socket->writeData(toBytes("late"), -1, 2);
  pair.socket->readDataToLength(1, -1, 3);
  EXPECT_EQ(readExactly(pair.peer.get(), payload.size()), payload);
  EXPECT_TRUE(seesEndOfStream(pair.peer.get()));
  pair.delegate().waitFor("disconnect");
  pair.settle();
  EXPECT_EQ(pair.delegate().count("write"), 1u);
  EXPECT_EQ(pair.delegate().waitFor("write").tag, 1);
  EXPECT_EQ(pair.delegate().count("read"), 0u);
}

TEST(GCDAsyncSocketClose, RequestsBeforeStartAreDroppedAndNoNoticeComes) {
  Fixture fixture;
  auto socket = fixture.makeSocket();
  socket->readDataToLength(3, -1, 1);
  socket->writeData(toBytes("early"), -1, 2);
  socket->disconnect();
  socket->disconnectAfterWriting();
  UniqueFd listener = rawListen();
  ASSERT_TRUE(socket->connectToHost("127.0.0.1", localPortOf(listener.get())));
  UniqueFd peer = rawAccept(listener.get());
  fixture.delegate->waitFor("connect");
  // The early write never went out: the first bytes the peer sees are these.
  socket->writeData(toBytes("later"), -1, 3);
  EXPECT_EQ(readExactly(peer.get(), 5), "later");
  writeAll(peer.get(), "abc");
  socket->readDataToLength(3, -1, 4);
  EXPECT_EQ(fixture.delegate->waitFor("read").tag, 4);
  settle(socket, fixture.delegateQueue);
  EXPECT_EQ(fixture.delegate->count("disconnect"), 0u);
  EXPECT_EQ(fixture.delegate->count("read"), 1u);
  EXPECT_EQ(fixture.delegate->count("write"), 1u);
}

TEST(GCDAsyncSocketClose, ThousandConnectCloseCyclesLeaveNoDescriptorBehind) {
  Fixture fixture;
  auto listener = fixture.makeSocket();
  ASSERT_TRUE(listener->acceptOnInterface("127.0.0.1", 0));
  const uint16_t port = listener->localPort4();
  // Accepted sockets are dropped on arrival.
  fixture.delegate->onAccept = [](const GCDAsyncSocketPtr&) {};
  const size_t before = openDescriptorCount();
  for (int i = 0; i < 1000; ++i) {
    auto socket = fixture.makeSocket();
    ASSERT_TRUE(socket->connectToHost("127.0.0.1", port));
    fixture.delegate->waitFor("connect", static_cast<size_t>(i) + 1);
    socket->disconnect();
    if (i % 100 == 0) fixture.delegate->clearSockets();
  }
  fixture.delegate->clearSockets();
  // Cancel handlers close descriptors on the sockets' queues: let them run.
  for (int wait = 0; wait < 100 && openDescriptorCount() > before; ++wait) {
    std::this_thread::sleep_for(10ms);
    fixture.delegateQueue->sync([] {});
    fixture.delegate->clearSockets();
  }
  EXPECT_LE(openDescriptorCount(), before);
}

}  // namespace
}  // namespace vistrelle::netlocal::testing
