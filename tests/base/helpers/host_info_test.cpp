#include "base/helpers/host_info.h"

#include <arpa/inet.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <deque>

#include "base/helpers/fake_environment.h"

namespace vistrelle::base {
namespace {

using testing::fakeEnvironment;

TEST(CpuBrandString, TakesTheFirstModelNameLowerCased) {
  const std::string cpuinfo =
      "processor\t: 0\n"
      "vendor_id\t: GenuineIntel\n"
      "model\t\t: 158\n"
      "model name\t: Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz\n"
      "processor\t: 1\n"
      "model name\t: Other\n";
  EXPECT_EQ(cpuBrandStringFromCpuinfo(cpuinfo), "intel(r) core(tm) i7-8700 cpu @ 3.20ghz");
}

TEST(CpuBrandString, IsEmptyWithoutModelName) {
  // What an aarch64 kernel reports.
  const std::string cpuinfo =
      "processor\t: 0\n"
      "BogoMIPS\t: 48.00\n"
      "CPU implementer\t: 0x41\n"
      "CPU part\t: 0xd0c\n";
  EXPECT_EQ(cpuBrandStringFromCpuinfo(cpuinfo), "");
  EXPECT_EQ(cpuBrandStringFromCpuinfo(""), "");
}

TEST(CpuBrandString, ReadsThisMachine) {
  // Whatever the host, the answer is lower case and has no surrounding space.
  const std::string brand = cpuBrandString();
  EXPECT_EQ(brand.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ"), std::string::npos);
  if (!brand.empty()) {
    EXPECT_NE(brand.front(), ' ');
    EXPECT_NE(brand.back(), ' ');
  }
}

struct RegionCase {
  std::map<std::string, std::string, std::less<>> env;
  bool china;
};

class IsChinaRegionTest : public ::testing::TestWithParam<RegionCase> {};

TEST_P(IsChinaRegionTest, ComparesTheRegionPartWithCN) {
  EXPECT_EQ(isChinaRegion(fakeEnvironment(GetParam().env)), GetParam().china);
}

INSTANTIATE_TEST_SUITE_P(
    Locales, IsChinaRegionTest,
    ::testing::Values(
        RegionCase{{{"LANG", "zh_CN"}}, true}, RegionCase{{{"LANG", "zh_CN.UTF-8"}}, true},
        RegionCase{{{"LANG", "zh_CN.GB18030@stroke"}}, true}, RegionCase{{{"LANG", "en_CN"}}, true},
        RegionCase{{{"LANG", "zh_TW"}}, false}, RegionCase{{{"LANG", "zh-Hans_HK"}}, false},
        RegionCase{{{"LANG", "en_US.UTF-8"}}, false}, RegionCase{{{"LANG", "C"}}, false},
        RegionCase{{{"LANG", "C.UTF-8"}}, false}, RegionCase{{{"LANG", "POSIX"}}, false},
        // No locale at all counts as China.
        RegionCase{{}, true}, RegionCase{{{"LANG", ""}}, true},
        // LC_ALL overrides LC_MESSAGES, which overrides LANG.
        RegionCase{{{"LC_ALL", "en_US"}, {"LC_MESSAGES", "zh_CN"}}, false},
        RegionCase{{{"LC_MESSAGES", "zh_CN"}, {"LANG", "en_US"}}, true},
        RegionCase{{{"LC_ALL", ""}, {"LANG", "zh_CN"}}, true}));

// Builds getifaddrs-style lists; entries point into the builder.
class InterfaceList {
 public:
  void add(const char* name, unsigned flags, const char* address, const char* mask) {
    ifaddrs& entry = entries_.emplace_back();
    entry.ifa_name = const_cast<char*>(name);
    entry.ifa_flags = flags;
    entry.ifa_addr = address ? ipv4(address) : nullptr;
    entry.ifa_netmask = mask ? ipv4(mask) : nullptr;
    if (entries_.size() > 1) entries_[entries_.size() - 2].ifa_next = &entry;
  }

  void addIPv6(const char* name, unsigned flags) {
    auto& address = v6_.emplace_back();
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    ifaddrs& entry = entries_.emplace_back();
    entry.ifa_name = const_cast<char*>(name);
    entry.ifa_flags = flags;
    entry.ifa_addr = reinterpret_cast<sockaddr*>(&address);
    entry.ifa_netmask = reinterpret_cast<sockaddr*>(&address);
    if (entries_.size() > 1) entries_[entries_.size() - 2].ifa_next = &entry;
  }

  const ifaddrs* head() const { return entries_.empty() ? nullptr : &entries_.front(); }

 private:
  sockaddr* ipv4(const char* text) {
    sockaddr_in& address = v4_.emplace_back();
    address.sin_family = AF_INET;
    EXPECT_EQ(inet_pton(AF_INET, text, &address.sin_addr), 1) << text;
    return reinterpret_cast<sockaddr*>(&address);
  }

  // Deques keep element addresses when growing.
  std::deque<ifaddrs> entries_;
  std::deque<sockaddr_in> v4_;
  std::deque<sockaddr_in6> v6_;
};

constexpr unsigned kUpRunning = IFF_UP | IFF_RUNNING;

TEST(LocalIPv4Addresses, LoopbackOnlyGivesNothing) {
  InterfaceList list;
  list.add("lo", kUpRunning | IFF_LOOPBACK, "127.0.0.1", "255.0.0.0");
  EXPECT_THAT(localIPv4Addresses(list.head()), ::testing::IsEmpty());
  EXPECT_THAT(localIPv4Addresses(nullptr), ::testing::IsEmpty());
}

TEST(LocalIPv4Addresses, TakesUpRunningIPv4EntriesInOrder) {
  InterfaceList list;
  list.add("lo", kUpRunning | IFF_LOOPBACK, "127.0.0.1", "255.0.0.0");
  list.add("eth0", kUpRunning, "192.168.1.23", "255.255.255.0");
  list.add("eth1", IFF_UP, "10.0.0.5", "255.0.0.0");       // up but not running
  list.add("eth2", IFF_RUNNING, "10.0.0.6", "255.0.0.0");  // running but down
  list.addIPv6("eth0", kUpRunning);
  list.add("wg0", kUpRunning, "10.8.0.2", nullptr);  // no mask
  list.add("dummy", kUpRunning, nullptr, nullptr);   // no address
  list.add("wlan0", kUpRunning, "172.16.4.9", "255.255.240.0");
  EXPECT_THAT(localIPv4Addresses(list.head()),
              ::testing::ElementsAre("192.168.1.23/24", "172.16.4.9/20"));
}

// This machine's interfaces read through the older ioctl interface, which
// lists the IPv4 address of every interface that is up: an independent witness
// for what getifaddrs gave.
std::vector<std::string> ioctlIPv4Addresses() {
  std::vector<std::string> result;
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return result;
  std::vector<ifreq> requests(64);
  ifconf conf{};
  conf.ifc_len = static_cast<int>(requests.size() * sizeof(ifreq));
  conf.ifc_req = requests.data();
  if (::ioctl(fd, SIOCGIFCONF, &conf) == 0) {
    for (size_t i = 0; i < conf.ifc_len / sizeof(ifreq); ++i) {
      ifreq entry = requests[i];
      char address[INET_ADDRSTRLEN] = {};
      ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&entry.ifr_addr)->sin_addr, address,
                  sizeof address);
      if (::ioctl(fd, SIOCGIFFLAGS, &entry) != 0) continue;
      const short flags = entry.ifr_flags;
      if (!(flags & IFF_UP) || !(flags & IFF_RUNNING) || (flags & IFF_LOOPBACK)) continue;
      if (::ioctl(fd, SIOCGIFNETMASK, &entry) != 0) continue;
      char mask[INET_ADDRSTRLEN] = {};
      ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&entry.ifr_netmask)->sin_addr, mask,
                  sizeof mask);
      result.push_back(std::string(address) + "/" + netmaskPrefixLength(mask));
    }
  }
  ::close(fd);
  return result;
}

TEST(LocalIPv4Addresses, ThisMachineAgreesWithTheIoctlListing) {
  std::vector<std::string> expected = ioctlIPv4Addresses();
  std::vector<std::string> found = localIPv4Addresses();
  std::sort(expected.begin(), expected.end());
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, expected);
}

TEST(NetmaskPrefixLength, CountsTheOneBits) {
  const std::pair<const char*, const char*> cases[] = {
      {"255.255.255.0", "24"},   {"255.255.240.0", "20"},
      {"255.255.255.255", "32"}, {"0.0.0.0", "0"},
      {"255.0.0.0", "8"},        {"", "0"},
      {"255.x.0.0", "8"},        {"128", "1"},
  };
  for (const auto& [mask, length] : cases) EXPECT_EQ(netmaskPrefixLength(mask), length) << mask;
}

}  // namespace
}  // namespace vistrelle::base
