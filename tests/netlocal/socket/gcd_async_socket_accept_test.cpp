#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <fstream>
#include <thread>

#include "netlocal/socket/socket_test_support.h"

namespace vistrelle::netlocal::testing {
namespace {

TEST(GCDAsyncSocketAccept, PortZeroWithBothFamiliesSharesOnePortAndAcceptsEach) {
  Fixture fixture;
  auto listener = fixture.makeSocket();
  SocketErrorPtr error;
  ASSERT_TRUE(listener->acceptOnPort(0, &error)) << error->describe();
  const uint16_t port4 = listener->localPort4();
  EXPECT_NE(port4, 0);
  EXPECT_EQ(listener->localPort6(), port4);
  EXPECT_TRUE(listener->isIPv4());
  EXPECT_TRUE(listener->isIPv6());

  UniqueFd client4 = rawConnect(port4, AF_INET);
  UniqueFd client6 = rawConnect(port4, AF_INET6);
  auto first = fixture.delegate->waitFor("accept", 1);
  auto second = fixture.delegate->waitFor("accept", 2);
  ASSERT_TRUE(first.newSocket && second.newSocket);
  EXPECT_EQ(first.socket, listener);
  EXPECT_TRUE(first.newSocket->isConnected());
  // One accepted socket of each family.
  EXPECT_NE(first.newSocket->isIPv4(), second.newSocket->isIPv4());
  EXPECT_EQ(first.newSocket->localPort(), port4);
}

TEST(GCDAsyncSocketAccept, SecondAcceptFailsWithBadConfig) {
  Fixture fixture;
  auto listener = fixture.makeSocket();
  ASSERT_TRUE(listener->acceptOnPort(0));
  SocketErrorPtr error;
  EXPECT_FALSE(listener->acceptOnPort(0, &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain(), kGCDAsyncSocketErrorDomain);
  EXPECT_EQ(error->code(), GCDAsyncSocketBadConfigError);
  EXPECT_EQ(error->localizedDescription(),
            "Attempting to accept while connected or accepting connections. Disconnect first.");
  // The failed call changed nothing: the first listener still accepts.
  UniqueFd client = rawConnect(listener->localPort4());
  EXPECT_TRUE(fixture.delegate->waitFor("accept").newSocket);
}

TEST(GCDAsyncSocketAccept, PortInUseGivesAddressInUseFromBind) {
  Fixture fixture;
  auto first = fixture.makeSocket();
  ASSERT_TRUE(first->acceptOnPort(0));
  auto second = fixture.makeSocket();
  SocketErrorPtr error;
  EXPECT_FALSE(second->acceptOnPort(first->localPort4(), &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain(), kPOSIXErrorDomain);
  EXPECT_EQ(error->code(), EADDRINUSE);
  EXPECT_EQ(error->localizedFailureReason(), "Error in bind() function");
  EXPECT_TRUE(second->isDisconnected());
}

struct FamilyCase {
  const char* name;
  bool ipv4;
  bool ipv6;
  const char* interface;
};

class GCDAsyncSocketAcceptFamilies : public ::testing::TestWithParam<FamilyCase> {};

TEST_P(GCDAsyncSocketAcceptFamilies, ListensOnlyOnTheEnabledFamilies) {
  const FamilyCase& c = GetParam();
  Fixture fixture;
  auto listener = fixture.makeSocket();
  listener->setIPv4Enabled(c.ipv4);
  listener->setIPv6Enabled(c.ipv6);
  SocketErrorPtr error;
  ASSERT_TRUE(listener->acceptOnInterface(c.interface, 0, &error)) << error->describe();
  EXPECT_EQ(listener->isIPv4(), c.ipv4);
  EXPECT_EQ(listener->isIPv6(), c.ipv6);
  const uint16_t port = c.ipv4 ? listener->localPort4() : listener->localPort6();
  UniqueFd client = rawConnect(port, c.ipv4 ? AF_INET : AF_INET6);
  auto accepted = fixture.delegate->waitFor("accept").newSocket;
  ASSERT_TRUE(accepted);
  EXPECT_EQ(accepted->isIPv4(), c.ipv4);
  EXPECT_EQ(accepted->connectedHost(), c.ipv4 ? "127.0.0.1" : "::1");
}

INSTANTIATE_TEST_SUITE_P(Families, GCDAsyncSocketAcceptFamilies,
                         ::testing::Values(FamilyCase{"ipv4Only", true, false, ""},
                                           FamilyCase{"ipv6Only", false, true, ""},
                                           FamilyCase{"ipv4Loopback", true, false, "localhost"},
                                           FamilyCase{"ipv6Loopback", false, true, "loopback"},
                                           FamilyCase{"ipv6Literal", false, true, "::1"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(GCDAsyncSocketAccept, InterfaceWithPortIsSplitOnlyWithOneColon) {
  const uint16_t port = closedPort();
  Fixture fixture;
  auto listener = fixture.makeSocket();
  SocketErrorPtr error;
  ASSERT_TRUE(listener->acceptOnInterface("127.0.0.1:" + std::to_string(port), 0, &error))
      << error->describe();
  EXPECT_EQ(listener->localPort4(), port);
  EXPECT_FALSE(listener->isIPv6());  // 127.0.0.1 has no IPv6 address

  auto bracketed = fixture.makeSocket();
  const uint16_t port6 = closedPort();
  ASSERT_TRUE(bracketed->acceptOnInterface("[::1]:" + std::to_string(port6), 0, &error))
      << error->describe();
  EXPECT_EQ(bracketed->localPort6(), port6);
  EXPECT_EQ(bracketed->localHost6(), "::1");
}

struct RefusedCase {
  const char* name;
  bool setDelegate;
  bool setQueue;
  bool ipv4;
  bool ipv6;
  const char* interface;
  int code;
  const char* text;
};

class GCDAsyncSocketAcceptRefused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(GCDAsyncSocketAcceptRefused, FailsValidationWithItsText) {
  const RefusedCase& c = GetParam();
  Fixture fixture;
  auto listener =
      GCDAsyncSocket::create(c.setDelegate ? std::weak_ptr<GCDAsyncSocketDelegate>(fixture.delegate)
                                           : std::weak_ptr<GCDAsyncSocketDelegate>(),
                             c.setQueue ? fixture.delegateQueue : nullptr);
  listener->setIPv4Enabled(c.ipv4);
  listener->setIPv6Enabled(c.ipv6);
  SocketErrorPtr error;
  EXPECT_FALSE(listener->acceptOnInterface(c.interface, 0, &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain(), kGCDAsyncSocketErrorDomain);
  EXPECT_EQ(error->code(), c.code);
  EXPECT_EQ(error->localizedDescription(), c.text);
  EXPECT_TRUE(listener->isDisconnected());
}

INSTANTIATE_TEST_SUITE_P(
    Texts, GCDAsyncSocketAcceptRefused,
    ::testing::Values(
        RefusedCase{"noDelegate", false, true, true, true, "", 1,
                    "Attempting to accept without a delegate. Set a delegate first."},
        RefusedCase{"noQueue", true, false, true, true, "", 1,
                    "Attempting to accept without a delegate queue. Set a delegate queue first."},
        RefusedCase{"bothDisabled", true, true, false, false, "", 1,
                    "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol "
                    "first."},
        RefusedCase{"unknownInterface", true, true, true, true, "nosuchif9", 2,
                    "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP "
                    "address."},
        RefusedCase{"ipv4DisabledOnIpv4Interface", true, true, false, true, "127.0.0.1", 2,
                    "IPv4 has been disabled and specified interface doesn't support IPv6."},
        RefusedCase{"ipv6DisabledOnIpv6Interface", true, true, true, false, "::1", 2,
                    "IPv6 has been disabled and specified interface doesn't support IPv4."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GCDAsyncSocketAccept, UnixDomainAcceptsAndUnlinksItsFileAtClose) {
  TempDir dir;
  const std::string path = dir.path() + "/companion.sock";
  Fixture fixture;
  auto listener = fixture.makeSocket();
  SocketErrorPtr error;
  ASSERT_TRUE(listener->acceptOnUrl("file://" + path, &error)) << error->describe();
  struct stat info {};
  ASSERT_EQ(::lstat(path.c_str(), &info), 0);
  EXPECT_TRUE(S_ISSOCK(info.st_mode));

  UniqueFd client = rawConnectUnix(path);
  auto accepted = fixture.delegate->waitFor("accept").newSocket;
  ASSERT_TRUE(accepted);
  accepted->readDataToData(GCDAsyncSocket::LFData(), -1, 3);
  writeAll(client.get(), "over unix\n");
  EXPECT_EQ(fixture.delegate->waitFor("read").data, "over unix\n");

  listener->disconnect();
  fixture.delegate->waitFor("disconnect");
  settle(listener, fixture.delegateQueue);
  EXPECT_NE(::lstat(path.c_str(), &info), 0) << "socket file left behind";
}

TEST(GCDAsyncSocketAccept, UnixDomainReplacesAStaleSocketButNeverAnotherFile) {
  TempDir dir;
  Fixture fixture;

  // A socket file left by an earlier run is taken over.
  const std::string stale = dir.path() + "/stale.sock";
  {
    UniqueFd old(::socket(AF_UNIX, SOCK_STREAM, 0));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, stale.c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(::bind(old.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  }
  auto listener = fixture.makeSocket();
  EXPECT_TRUE(listener->acceptOnUrl(stale));

  // A regular file is somebody's data: refused and kept.
  const std::string regular = dir.path() + "/notes.txt";
  std::ofstream(regular) << "keep me";
  auto refused = fixture.makeSocket();
  SocketErrorPtr error;
  EXPECT_FALSE(refused->acceptOnUrl("file://" + regular, &error));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), GCDAsyncSocketOtherError);
  EXPECT_EQ(error->localizedDescription(),
            "Could not remove previous unix domain socket at given url.");
  std::ifstream kept(regular);
  std::string content;
  std::getline(kept, content);
  EXPECT_EQ(content, "keep me");
}

TEST(GCDAsyncSocketAccept, UnixDomainPathThatDoesNotFitIsABadParameter) {
  Fixture fixture;
  const std::vector<std::string> urls = {"file:///tmp/" + std::string(120, 'x'), "relative.sock",
                                         "http://host/socket"};
  for (const std::string& url : urls) {
    auto listener = fixture.makeSocket();
    SocketErrorPtr error;
    EXPECT_FALSE(listener->acceptOnUrl(url, &error)) << url;
    ASSERT_TRUE(error) << url;
    EXPECT_EQ(error->code(), GCDAsyncSocketBadParamError) << url;
    EXPECT_EQ(error->localizedDescription(),
              "Invalid unix domain url. Specify a valid file url that does not exist (e.g. "
              "\"file:///tmp/socket\")");
  }
}

TEST(GCDAsyncSocketAccept, ConnectionAcceptedWithoutDelegateQueueIsClosed) {
  Fixture fixture;
  auto listener = fixture.makeSocket();
  ASSERT_TRUE(listener->acceptOnInterface("127.0.0.1", 0));
  listener->synchronouslySetDelegateQueue(nullptr);
  UniqueFd client = rawConnect(listener->localPort4());
  // The descriptor is not kept: the peer sees the connection end.
  EXPECT_TRUE(seesEndOfStream(client.get()));
}

TEST(GCDAsyncSocketAccept, OutOfDescriptorsPausesAcceptingThenRecovers) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // The sanitizers' own checks open descriptors (a pipe to probe memory), so
  // with none left they report errors of their own.
  GTEST_SKIP() << "needs a build without sanitizers: it exhausts the descriptor table";
#endif
  Fixture fixture;
  auto listener = fixture.makeSocket();
  ASSERT_TRUE(listener->acceptOnInterface("127.0.0.1", 0));
  rlimit original{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &original), 0);

  // The client's descriptor exists before the limit drops, and connect()
  // needs no new one; so the connection arrives only once accept() can no
  // longer get a descriptor.
  UniqueFd client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  ASSERT_TRUE(client);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(listener->localPort4());
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  // No descriptor left for accept(): the pending connection keeps the
  // listener readable, which must not turn into a busy loop.
  rlimit tight = original;
  tight.rlim_cur = 0;
  rusage before{}, after{};
  getrusage(RUSAGE_SELF, &before);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
  const int connected =
      ::connect(client.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
  const int connectError = errno;
  std::this_thread::sleep_for(400ms);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &original), 0);
  getrusage(RUSAGE_SELF, &after);
  ASSERT_EQ(connected, 0) << std::strerror(connectError);
  auto cpu = [](const rusage& usage) {
    return usage.ru_utime.tv_sec * 1e6 + usage.ru_utime.tv_usec + usage.ru_stime.tv_sec * 1e6 +
           usage.ru_stime.tv_usec;
  };
  EXPECT_LT(cpu(after) - cpu(before), 200e3) << "accepting spun while out of descriptors";
  EXPECT_EQ(fixture.delegate->count("accept"), 0u);
  // Once descriptors are back, the waiting connection is accepted.
  EXPECT_TRUE(fixture.delegate->waitFor("accept", 1, 3s).newSocket);
}

}  // namespace
}  // namespace vistrelle::netlocal::testing
