#include <netdb.h>

#include <thread>

#include "netlocal/socket/socket_test_support.h"

namespace vistrelle::netlocal::testing {
namespace {

TEST(GCDAsyncSocketConnect, ClosedPortGivesConnectErrorWithConnectionRefused) {
  Fixture fixture;
  auto socket = fixture.makeSocket();
  ASSERT_TRUE(socket->connectToHost("127.0.0.1", closedPort()));
  auto event = fixture.delegate->waitFor("disconnect");
  ASSERT_TRUE(event.error);
  EXPECT_EQ(event.error->domain(), kPOSIXErrorDomain);
  EXPECT_EQ(event.error->code(), ECONNREFUSED);
  EXPECT_EQ(event.error->localizedFailureReason(), "Error in connect() function");
  settle(socket, fixture.delegateQueue);
  EXPECT_EQ(fixture.delegate->count("disconnect"), 1u);
  EXPECT_EQ(fixture.delegate->count("connect"), 0u);
  EXPECT_TRUE(socket->isDisconnected());
}

TEST(GCDAsyncSocketConnect, LocalhostWithOnlyAnIPv6ListenerWinsAfterTheAlternateDelay) {
  Fixture fixture;
  auto listener = fixture.makeSocket();
  listener->setIPv4Enabled(false);
  ASSERT_TRUE(listener->acceptOnInterface("localhost", 0));
  const uint16_t port = listener->localPort6();

  auto socket = fixture.makeSocket();
  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(socket->connectToHost("localhost", port));
  auto event = fixture.delegate->waitFor("connect");
  const auto elapsed = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(event.host, "::1");
  EXPECT_EQ(event.port, port);
  // IPv4 goes first and is refused; IPv6 starts only after the delay.
  EXPECT_GE(elapsed, 290ms);
  EXPECT_TRUE(socket->isIPv6());
  EXPECT_FALSE(socket->isIPv4());
  EXPECT_EQ(fixture.delegate->count("disconnect"), 0u);
}

TEST(GCDAsyncSocketConnect, PreferredIPv6ConnectsAtOnce) {
  Fixture fixture;
  auto listener = fixture.makeSocket();
  ASSERT_TRUE(listener->acceptOnInterface("localhost", 0));
  auto socket = fixture.makeSocket();
  socket->setIPv4PreferredOverIPv6(false);
  ASSERT_TRUE(socket->connectToHost("localhost", listener->localPort4()));
  EXPECT_EQ(fixture.delegate->waitFor("connect").host, "::1");
  EXPECT_EQ(socket->connectedPort(), listener->localPort4());
}

// A listener whose accept queue is full: further SYNs are dropped, so a
// connect neither succeeds nor fails until it gives up.
struct BlackHole {
  UniqueFd listener = rawListen(AF_INET, 0);
  std::vector<UniqueFd> fillers;
  BlackHole() {
    for (int i = 0; i < 3; ++i) {
      UniqueFd filler(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
      sockaddr_in addr{};
      addr.sin_family = AF_INET;
      addr.sin_port = htons(localPortOf(listener.get()));
      addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      ::connect(filler.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr);
      fillers.push_back(std::move(filler));
    }
    std::this_thread::sleep_for(20ms);
  }
  uint16_t port() const { return localPortOf(listener.get()); }
};

class GCDAsyncSocketConnectTimeout : public ::testing::TestWithParam<double> {};

TEST_P(GCDAsyncSocketConnectTimeout, ExpiresWithTheConnectTimeoutError) {
  BlackHole hole;
  Fixture fixture;
  auto socket = fixture.makeSocket();
  ASSERT_TRUE(socket->connectToHost("127.0.0.1", hole.port(), GetParam()));
  auto event = fixture.delegate->waitFor("disconnect");
  ASSERT_TRUE(event.error);
  EXPECT_EQ(event.error->domain(), kGCDAsyncSocketErrorDomain);
  EXPECT_EQ(event.error->code(), GCDAsyncSocketConnectTimeoutError);
  EXPECT_EQ(event.error->localizedDescription(), "Attempt to connect to host timed out");
  settle(socket, fixture.delegateQueue);
  EXPECT_EQ(fixture.delegate->count("disconnect"), 1u);
  EXPECT_EQ(fixture.delegate->count("connect"), 0u);
}

// Zero expires at once; a short one after its time.
INSTANTIATE_TEST_SUITE_P(Timeouts, GCDAsyncSocketConnectTimeout, ::testing::Values(0.0, 0.15));

TEST(GCDAsyncSocketConnect, ValidationFailuresGiveTheirTextsAndChangeNothing) {
  Fixture fixture;
  struct Case {
    std::function<bool(GCDAsyncSocket&, SocketErrorPtr*)> call;
    int code;
    std::string text;
  };
  const std::vector<Case> cases = {
      {[](GCDAsyncSocket& s, SocketErrorPtr* e) { return s.connectToHost("", 80, e); }, 2,
       "Invalid host parameter (nil or \"\"). Should be a domain name or IP address string."},
      {[](GCDAsyncSocket& s, SocketErrorPtr* e) {
         return s.connectToAddress(Bytes{1, 2, 3}, e);
       },
       2, "A valid IPv4 or IPv6 address was not given"},
      {[](GCDAsyncSocket& s, SocketErrorPtr* e) {
         s.setIPv4Enabled(false);
         auto addresses = GCDAsyncSocket::lookupHost("127.0.0.1", 80, nullptr);
         return s.connectToAddress(addresses.at(0), e);
       },
       2, "IPv4 has been disabled and an IPv4 address was passed."},
      {[](GCDAsyncSocket& s, SocketErrorPtr* e) {
         s.setIPv6Enabled(false);
         auto addresses = GCDAsyncSocket::lookupHost("::1", 80, nullptr);
         return s.connectToAddress(addresses.at(0), e);
       },
       2, "IPv6 has been disabled and an IPv6 address was passed."},
      {[](GCDAsyncSocket& s, SocketErrorPtr* e) {
         s.setIPv4Enabled(false);
         s.setIPv6Enabled(false);
         return s.connectToHost("localhost", 80, e);
       },
       1, "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first."},
      {[](GCDAsyncSocket& s, SocketErrorPtr* e) { return s.connectToUrl("not a url", -1, e); }, 2,
       "Invalid unix domain socket url."},
      {[](GCDAsyncSocket& s, SocketErrorPtr* e) {
         return s.connectToHost("127.0.0.1", 80, "nosuchif9", -1, e);
       },
       2, "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address."},
  };
  for (const Case& c : cases) {
    auto socket = fixture.makeSocket();
    SocketErrorPtr error;
    EXPECT_FALSE(c.call(*socket, &error)) << c.text;
    ASSERT_TRUE(error) << c.text;
    EXPECT_EQ(error->code(), c.code) << c.text;
    EXPECT_EQ(error->localizedDescription(), c.text);
    EXPECT_TRUE(socket->isDisconnected()) << c.text;
  }

  auto noDelegate = GCDAsyncSocket::create({}, fixture.delegateQueue);
  SocketErrorPtr error;
  EXPECT_FALSE(noDelegate->connectToHost("localhost", 80, &error));
  EXPECT_EQ(error->localizedDescription(),
            "Attempting to connect without a delegate. Set a delegate first.");
  auto noQueue = GCDAsyncSocket::create(fixture.delegate, nullptr);
  EXPECT_FALSE(noQueue->connectToHost("localhost", 80, &error));
  EXPECT_EQ(error->localizedDescription(),
            "Attempting to connect without a delegate queue. Set a delegate queue first.");

  auto twice = fixture.makeSocket();
  UniqueFd listener = rawListen();
  ASSERT_TRUE(twice->connectToHost("127.0.0.1", localPortOf(listener.get())));
  EXPECT_FALSE(twice->connectToHost("127.0.0.1", localPortOf(listener.get()), &error));
  EXPECT_EQ(error->code(), GCDAsyncSocketBadConfigError);
  EXPECT_EQ(error->localizedDescription(),
            "Attempting to connect while connected or accepting connections. Disconnect first.");
  // Validation failures never produced a disconnect notice.
  settle(twice, fixture.delegateQueue);
  EXPECT_EQ(fixture.delegate->count("disconnect"), 0u);
}

TEST(GCDAsyncSocketConnect, LookupFailureGivesANetDBError) {
  Fixture fixture;
  auto socket = fixture.makeSocket();
  ASSERT_TRUE(socket->connectToHost("no-such-host.invalid", 80));
  auto event = fixture.delegate->waitFor("disconnect");
  ASSERT_TRUE(event.error);
  EXPECT_EQ(event.error->domain(), kNetDBErrorDomain);
  EXPECT_NE(event.error->code(), 0);
  EXPECT_EQ(event.error->localizedDescription(), gai_strerror(event.error->code()));
}

TEST(GCDAsyncSocketConnect, ConnectedSocketReportsBothEndsAndCarriesBytes) {
  UniqueFd listener = rawListen();
  const uint16_t port = localPortOf(listener.get());
  Fixture fixture;
  auto socket = fixture.makeSocket();
  auto address = GCDAsyncSocket::lookupHost("127.0.0.1", port, nullptr);
  ASSERT_EQ(address.size(), 1u);
  ASSERT_TRUE(socket->connectToAddress(address[0], 2.0));
  UniqueFd peer = rawAccept(listener.get());
  auto event = fixture.delegate->waitFor("connect");
  EXPECT_EQ(event.host, "127.0.0.1");
  EXPECT_EQ(event.port, port);
  EXPECT_TRUE(socket->isConnected());
  EXPECT_TRUE(socket->isIPv4());
  EXPECT_EQ(socket->connectedHost4(), "127.0.0.1");
  EXPECT_EQ(socket->connectedPort4(), port);
  EXPECT_EQ(socket->localPort(), [&] {
    sockaddr_in addr{};
    socklen_t length = sizeof addr;
    getpeername(peer.get(), reinterpret_cast<sockaddr*>(&addr), &length);
    return ntohs(addr.sin_port);
  }());
  EXPECT_EQ(GCDAsyncSocket::portFromAddress(socket->connectedAddress()), port);
  EXPECT_EQ(GCDAsyncSocket::hostFromAddress(socket->localAddress()), "127.0.0.1");
  // Descriptors are only handed out on the socket queue.
  EXPECT_EQ(socket->socketFD(), -1);
  int inside = -1;
  socket->performBlock([&] { inside = socket->socketFD(); });
  EXPECT_GE(inside, 0);

  socket->writeData(toBytes("ping\n"), -1, 1);
  EXPECT_EQ(readExactly(peer.get(), 5), "ping\n");
  socket->readDataToLength(4, -1, 2);
  writeAll(peer.get(), "pong");
  EXPECT_EQ(fixture.delegate->waitFor("read").data, "pong");
  // The time-out ended with the connection: no late close.
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(fixture.delegate->count("disconnect"), 0u);
}

TEST(GCDAsyncSocketConnect, UnixDomainUrlConnects) {
  TempDir dir;
  const std::string path = dir.path() + "/s.sock";
  Fixture fixture;
  auto listener = fixture.makeSocket();
  ASSERT_TRUE(listener->acceptOnUrl(path));
  auto socket = fixture.makeSocket();
  ASSERT_TRUE(socket->connectToUrl("file://" + path, 1.0));
  EXPECT_EQ(fixture.delegate->waitFor("connectUrl").host, "file://" + path);
  EXPECT_EQ(socket->connectedUrl(), "file://" + path);
  auto accepted = fixture.delegate->waitFor("accept").newSocket;
  ASSERT_TRUE(accepted);
  accepted->readDataToLength(3, -1, 0);
  socket->writeData(toBytes("abc"), -1, 0);
  EXPECT_EQ(fixture.delegate->waitFor("read").data, "abc");
}

TEST(GCDAsyncSocketConnect, WrapsAnAlreadyConnectedDescriptor) {
  UniqueFd listener = rawListen();
  UniqueFd client = rawConnect(localPortOf(listener.get()));
  UniqueFd server = rawAccept(listener.get());
  Fixture fixture;
  SocketErrorPtr error;
  auto socket = GCDAsyncSocket::socketFromConnectedSocketFD(server.release(), fixture.delegate,
                                                            fixture.delegateQueue, nullptr, &error);
  ASSERT_TRUE(socket) << error->describe();
  EXPECT_EQ(fixture.delegate->waitFor("connect").host, "127.0.0.1");
  socket->readDataToData(GCDAsyncSocket::CRLFData(), -1, 0);
  writeAll(client.get(), "wrapped\r\n");
  EXPECT_EQ(fixture.delegate->waitFor("read").data, "wrapped\r\n");

  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  UniqueFd a(pair[0]), b(pair[1]);
  EXPECT_FALSE(GCDAsyncSocket::socketFromConnectedSocketFD(a.get(), fixture.delegate,
                                                           fixture.delegateQueue, nullptr, &error));
  EXPECT_EQ(error->localizedDescription(),
            "Attempt to create socket from socket FD failed. socket FD is neither IPv4 nor IPv6");
  UniqueFd unconnected(::socket(AF_INET, SOCK_STREAM, 0));
  EXPECT_FALSE(GCDAsyncSocket::socketFromConnectedSocketFD(unconnected.get(), fixture.delegate,
                                                           fixture.delegateQueue, nullptr, &error));
  EXPECT_EQ(error->localizedDescription(),
            "Attempt to create socket from socket FD failed. getpeername() failed");
}

TEST(GCDAsyncSocketAddresses, ClassOperationsReadHostPortAndFamily) {
  auto addresses = GCDAsyncSocket::lookupHost("localhost", 8080, nullptr);
  ASSERT_EQ(addresses.size(), 2u);
  std::string host;
  uint16_t port = 0;
  int family = 0;
  ASSERT_TRUE(GCDAsyncSocket::getHostPortFamilyFromAddress(&host, &port, &family, addresses[0]));
  EXPECT_EQ(host, "127.0.0.1");
  EXPECT_EQ(port, 8080);
  EXPECT_EQ(family, AF_INET);
  EXPECT_TRUE(GCDAsyncSocket::isIPv6Address(addresses[1]));
  EXPECT_EQ(GCDAsyncSocket::hostFromAddress(addresses[1]), "::1");
  EXPECT_FALSE(GCDAsyncSocket::getHostPortFromAddress(&host, &port, Bytes{0, 0}));
  EXPECT_EQ(GCDAsyncSocket::CRLFData(), (Bytes{'\r', '\n'}));
  EXPECT_EQ(GCDAsyncSocket::ZeroData(), (Bytes{0}));
}

}  // namespace
}  // namespace vistrelle::netlocal::testing
