// Sockets that outlive their runtime (a shared instance held in a static, or
// a program that stops its runtime before dropping everything).  Each test
// makes a runtime of its own, so this program has no shared one.

#include <thread>

#include "netlocal/socket/socket_test_helpers.h"
#include "platform/dispatch/event_loop.h"
#include "platform/dispatch/runtime.h"

namespace vistrelle::netlocal::testing {
namespace {

std::unique_ptr<dispatch::Runtime> makeRuntime() {
  return std::make_unique<dispatch::Runtime>(std::make_shared<dispatch::EventLoop>(),
                                             dispatch::Runtime::Options{4});
}

// A listener with one accepted connection, and a client connection of ours,
// each with a raw peer.
struct OpenSockets {
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
  dispatch::ExecutorPtr delegateQueue = dispatch::makeSerialQueue("delegate");
  GCDAsyncSocketPtr listener = GCDAsyncSocket::create(delegate, delegateQueue);
  GCDAsyncSocketPtr accepted;
  GCDAsyncSocketPtr client = GCDAsyncSocket::create(delegate, delegateQueue);
  UniqueFd clientOfListener;
  UniqueFd rawListener = rawListen();
  UniqueFd peerOfClient;
  uint16_t listenerPort = 0;

  OpenSockets() {
    SocketErrorPtr error;
    EXPECT_TRUE(listener->acceptOnInterface("127.0.0.1", 0, &error))
        << (error ? error->describe() : "");
    listenerPort = listener->localPort4();
    clientOfListener = rawConnect(listenerPort);
    accepted = delegate->waitFor("accept").newSocket;
    EXPECT_TRUE(client->connectToHost("127.0.0.1", localPortOf(rawListener.get())));
    peerOfClient = rawAccept(rawListener.get());
    delegate->waitFor("connect");
    accepted->readDataToData(GCDAsyncSocket::LFData(), -1, 1);
    client->writeData(toBytes("queued\n"), -1, 2);
    EXPECT_EQ(readExactly(peerOfClient.get(), 7), "queued\n");
    delegate->clearSockets();
  }

  void expectAllClosed() {
    EXPECT_TRUE(seesEndOfStream(clientOfListener.get())) << "accepted descriptor left open";
    EXPECT_TRUE(seesEndOfStream(peerOfClient.get())) << "client descriptor left open";
    UniqueFd refused(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(listenerPort);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_NE(::connect(refused.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0)
        << "listening descriptor left open";
    for (const auto& socket : {listener, accepted, client}) {
      EXPECT_TRUE(socket->isDisconnected());
      EXPECT_FALSE(socket->isConnected());
      EXPECT_EQ(socket->localPort(), 0);
    }
  }

  // What a caller may still do: nothing of it reaches a queue (a debug build
  // stops the process on a post to a stopped runtime).
  void useAfterTheRuntime() {
    client->writeData(toBytes("late"), -1, 3);
    accepted->readDataToLength(1, -1, 4);
    client->startTLS({});
    client->disconnectAfterWriting();
    listener->disconnect();
    client->setDelegate(delegate, delegateQueue);
    SocketErrorPtr error;
    EXPECT_FALSE(listener->acceptOnInterface("127.0.0.1", 0, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->localizedDescription(),
              "Attempting to accept after the dispatch runtime stopped.");
    EXPECT_FALSE(client->connectToHost("127.0.0.1", localPortOf(rawListener.get()), &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->localizedDescription(),
              "Attempting to connect after the dispatch runtime stopped.");
  }
};

TEST(GCDAsyncSocketLifetime, RuntimeStopClosesOpenSocketsAndTellsTheirDelegates) {
  auto runtime = makeRuntime();
  OpenSockets sockets;
  runtime->stop();
  sockets.expectAllClosed();
  // The stops ran while the queues still ran: each started socket was told.
  EXPECT_EQ(sockets.delegate->count("disconnect"), 3u);
  for (const auto& event : sockets.delegate->events()) {
    if (event.kind == "disconnect" && event.error) ADD_FAILURE() << event.error->describe();
  }
  sockets.useAfterTheRuntime();
  sockets.listener.reset();
  sockets.accepted.reset();
  sockets.client.reset();
  EXPECT_EQ(sockets.delegate->count("disconnect"), 3u);
  EXPECT_EQ(sockets.delegate->count("read"), 0u);
  runtime.reset();
}

TEST(GCDAsyncSocketLifetime, SocketsDestroyedAfterTheRuntimeIsGone) {
  auto runtime = makeRuntime();
  OpenSockets sockets;
  runtime.reset();
  sockets.expectAllClosed();
  sockets.useAfterTheRuntime();
  // Dropped last, as a static would be at exit: nothing of the runtime is
  // touched (the address sanitizer watches the freed reactor).
  sockets.listener.reset();
  sockets.accepted.reset();
  sockets.client.reset();
}

TEST(GCDAsyncSocketLifetime, SocketMadeUnderOneRuntimeIgnoresTheNext) {
  auto first = makeRuntime();
  auto delegate = std::make_shared<RecordingDelegate>();
  auto socket = GCDAsyncSocket::create(delegate, dispatch::makeSerialQueue("delegate"));
  first.reset();
  // A later runtime (tests make one after another) is not the socket's.
  auto second = makeRuntime();
  SocketErrorPtr error;
  EXPECT_FALSE(socket->acceptOnPort(0, &error));
  socket.reset();
  second.reset();
}

}  // namespace
}  // namespace vistrelle::netlocal::testing
