#include "netlocal/socket/socket_address.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>
#include <string>

#include "platform/dispatch/unique_fd.h"

namespace vistrelle::netlocal {
namespace {

using dispatch::UniqueFd;

// Host text and port of an address the functions made, or "-" for none.
std::string show(const Bytes& address) {
  if (address.empty()) return "-";
  auto info = describeAddress(address);
  if (!info) return "?";
  return info->host + " " + std::to_string(info->port);
}

// The loopback interface's name, as the system calls it.
std::string loopbackName() {
  ifaddrs* list = nullptr;
  std::string name;
  if (getifaddrs(&list) != 0) return name;
  for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
    if (entry->ifa_addr && entry->ifa_addr->sa_family == AF_INET &&
        (entry->ifa_flags & IFF_LOOPBACK)) {
      name = entry->ifa_name;
      break;
    }
  }
  freeifaddrs(list);
  return name;
}

struct InterfaceCase {
  const char* name;
  std::string description;
  uint16_t port;
  std::string address4;  // "host port", or "-" for none
  std::string address6;
};

class SocketAddressInterface : public ::testing::TestWithParam<InterfaceCase> {};

TEST_P(SocketAddressInterface, ResolvesIntoBothFamiliesWithThePort) {
  const InterfaceCase& c = GetParam();
  Bytes address4{1, 2, 3}, address6{4, 5, 6};  // stale contents are replaced
  getInterfaceAddress(c.description, c.port, &address4, &address6);
  EXPECT_EQ(show(address4), c.address4);
  EXPECT_EQ(show(address6), c.address6);
}

INSTANTIATE_TEST_SUITE_P(
    Descriptions, SocketAddressInterface,
    ::testing::Values(InterfaceCase{"any", "", 80, "0.0.0.0 80", ":: 80"},
                      InterfaceCase{"localhost", "localhost", 7, "127.0.0.1 7", "::1 7"},
                      InterfaceCase{"loopback", "loopback", 0, "127.0.0.1 0", "::1 0"},
                      InterfaceCase{"literal4", "127.0.0.1", 9, "127.0.0.1 9", "-"},
                      InterfaceCase{"literal6", "::1", 9, "-", "::1 9"},
                      // One colon splits off a port, which counts only when none is given.
                      InterfaceCase{"portInDescription", "127.0.0.1:8080", 0, "127.0.0.1 8080",
                                    "-"},
                      InterfaceCase{"givenPortWins", "127.0.0.1:8080", 9, "127.0.0.1 9", "-"},
                      InterfaceCase{"portOutOfRange", "127.0.0.1:70000", 0, "127.0.0.1 0", "-"},
                      InterfaceCase{"portNotANumber", "127.0.0.1:http", 0, "127.0.0.1 0", "-"},
                      InterfaceCase{"anyWithPort", ":8080", 0, "0.0.0.0 8080", ":: 8080"},
                      // Two colons or more: an IPv6 literal, never a port.
                      InterfaceCase{"ipv6NotSplit", "::1", 0, "-", "::1 0"},
                      InterfaceCase{"bracketedWithPort", "[::1]:8443", 0, "-", "::1 8443"},
                      InterfaceCase{"unknownName", "nosuchif9", 80, "-", "-"},
                      InterfaceCase{"addressNotHere", "192.0.2.55", 80, "-", "-"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SocketAddress, InterfaceNameSelectsItsAddresses) {
  const std::string name = loopbackName();
  ASSERT_FALSE(name.empty()) << "no loopback interface";
  Bytes address4, address6;
  getInterfaceAddress(name, 5000, &address4, &address6);
  EXPECT_EQ(show(address4), "127.0.0.1 5000");
  getInterfaceAddress(name + ":6000", 0, &address4, &address6);
  EXPECT_EQ(show(address4), "127.0.0.1 6000");
}

TEST(SocketAddress, LookupAnswersLiteralsAndLoopbackNamesWithoutTheResolver) {
  struct Case {
    std::string host;
    std::vector<std::string> addresses;
  };
  const std::vector<Case> cases = {
      {"127.0.0.1", {"127.0.0.1 21"}},
      {"::1", {"::1 21"}},
      {"fe80::1", {"fe80::1 21"}},
      {"localhost", {"127.0.0.1 21", "::1 21"}},
      {"loopback", {"127.0.0.1 21", "::1 21"}},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(isLiteralHost(c.host)) << c.host;
    SocketErrorPtr error;
    std::vector<std::string> shown;
    for (const Bytes& address : lookupHost(c.host, 21, &error)) shown.push_back(show(address));
    EXPECT_EQ(shown, c.addresses) << c.host;
    EXPECT_FALSE(error) << c.host;
  }
  EXPECT_FALSE(isLiteralHost("example.org"));
  EXPECT_FALSE(isLiteralHost("127.0.0.1:80"));
}

TEST(SocketAddress, DescribeTakesOnlyWholeInternetAddresses) {
  Bytes v4 = makeAddress4(in_addr{htonl(INADDR_LOOPBACK)}, 443);
  EXPECT_EQ(familyOf(v4), AF_INET);
  EXPECT_EQ(show(v4), "127.0.0.1 443");
  setPort(v4, 8443);
  EXPECT_EQ(show(v4), "127.0.0.1 8443");

  Bytes v6 = makeAddress6(in6addr_loopback, 443);
  EXPECT_EQ(familyOf(v6), AF_INET6);
  EXPECT_EQ(show(v6), "::1 443");

  Bytes truncated(v6.begin(), v6.begin() + 8);
  EXPECT_EQ(familyOf(truncated), AF_UNSPEC);
  EXPECT_FALSE(describeAddress(truncated));
  EXPECT_FALSE(describeAddress(Bytes{}));

  Bytes local = makeAddressUN("/tmp/companion.sock");
  EXPECT_EQ(familyOf(local), AF_UNIX);
  EXPECT_FALSE(describeAddress(local));
  setPort(local, 1);  // no port to set: unchanged
  EXPECT_EQ(local, makeAddressUN("/tmp/companion.sock"));
  EXPECT_TRUE(makeAddressUN(std::string(sizeof(sockaddr_un{}.sun_path), 'x')).empty());
}

TEST(SocketAddress, UnixPathsComeFromFileUrlsOrAbsolutePaths) {
  EXPECT_EQ(unixPathFromUrl("file:///tmp/socket"), "/tmp/socket");
  EXPECT_EQ(unixPathFromUrl("/run/user/1000/x.sock"), "/run/user/1000/x.sock");
  EXPECT_EQ(unixPathFromUrl("relative.sock"), "");
  EXPECT_EQ(unixPathFromUrl("http://host/socket"), "");
  EXPECT_EQ(unixPathFromUrl("file://relative"), "");
}

TEST(SocketAddress, AddressInfoOfBothEndsOfAConnection) {
  UniqueFd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(listener.get(), 1), 0);
  const auto listening = addressInfo(listener.get(), false);
  ASSERT_TRUE(listening);
  EXPECT_EQ(listening->host, "127.0.0.1");
  EXPECT_NE(listening->port, 0);
  EXPECT_FALSE(addressInfo(listener.get(), true)) << "a listener has no peer";

  UniqueFd client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  ASSERT_EQ(::connect(client.get(), reinterpret_cast<const sockaddr*>(listening->address.data()),
                      static_cast<socklen_t>(listening->address.size())),
            0);
  const auto peer = addressInfo(client.get(), true);
  ASSERT_TRUE(peer);
  EXPECT_EQ(peer->port, listening->port);
  EXPECT_EQ(peer->family, AF_INET);
  const auto local = addressInfo(client.get(), false);
  ASSERT_TRUE(local);
  EXPECT_NE(local->port, listening->port);
  EXPECT_FALSE(addressInfo(-1, true));
}

}  // namespace
}  // namespace vistrelle::netlocal
