#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "netlocal/companion/companion_time.h"
#include "netlocal/companion/interface_addresses.h"
#include "netlocal/companion/mac_family.h"
#include "netlocal/companion/process_walk.h"

namespace vistrelle::netlocal {
namespace {

namespace fs = std::filesystem;

TEST(MacFamily, FirstMatchingRowDecides) {
  struct Case {
    const char* model;
    const char* family;
  };
  const Case cases[] = {
      {"Macmini9,1", "Mac mini"},
      {"Mac14,3", "Mac mini"},
      // Only begins with Mac14,3: the contains row still takes it.
      {"Mac14,30", "Mac mini"},
      {"Mac14,2", "MacBook Air"},
      {"Mac14,13", "Mac Studio"},
      {"Mac15,9", "MacBook Pro"},
      {"iMacPro1,1", "iMac Pro"},
      {"MacBookPro14,2", "MacBook Pro"},
      // Unlisted, but of a known line.
      {"MacBookPro99,9", "MacBook Pro"},
      {"MacBookAir99,1", "MacBook Air"},
      {"Macmini99,1", "Mac mini"},
      {"iMac99,1", "iMac"},
      {"", "Mac"},
      {"ThinkPad X1 Carbon", "Mac"},
  };
  for (const Case& c : cases) EXPECT_EQ(macFamilyForModel(c.model), c.family) << c.model;
}

// A folder of the test's own, removed with everything in it.
struct TempFolder {
  fs::path path;
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "companion-test-XXXXXX").string();
    path = ::mkdtemp(pattern.data());
  }
  ~TempFolder() { fs::remove_all(path); }
};

TEST(MacFamily, HostModelIsTheFirstLineOfTheProductNameOrEmpty) {
  TempFolder folder;
  std::ofstream(folder.path / "product_name") << "MacBookPro18,1\n";
  EXPECT_EQ(readHostModel((folder.path / "product_name").string()), "MacBookPro18,1");
  EXPECT_EQ(readHostModel((folder.path / "missing").string()), "");
  EXPECT_EQ(macFamilyForModel(readHostModel((folder.path / "missing").string())), "Mac");
}

// The local time zone for one test, given back afterwards.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) previous_ = old;
    had_ = std::getenv("TZ") != nullptr;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ScopedTimeZone() {
    if (had_) {
      ::setenv("TZ", previous_.c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }

 private:
  std::string previous_;
  bool had_ = false;
};

TEST(CompanionTime, CalendarYearTwentyFourHourClockAndSpacedMilliseconds) {
  ScopedTimeZone utc("UTC");
  using std::chrono::milliseconds;
  using std::chrono::system_clock;
  // 2024-12-30 is a Monday of the week-based year 2025.
  const system_clock::time_point newYearsEve(milliseconds(1735603199123));  // 2024-12-30 23:59:59
  EXPECT_EQ(companionTimeText(newYearsEve), "2024-12-30 23:59:59 123");
  const system_clock::time_point lastSecond(milliseconds(1735689599999));  // 2024-12-31 23:59:59
  EXPECT_EQ(companionTimeText(lastSecond), "2024-12-31 23:59:59 999");
  const system_clock::time_point afternoon(milliseconds(1718024400007));  // 2024-06-10 13:00:00
  EXPECT_EQ(companionTimeText(afternoon), "2024-06-10 13:00:00 007");
}

// A /proc of our own: numbered folders whose "exe" links point where a test
// says (the targets need not exist).
class ProcFixture {
 public:
  void add(int pid, const std::string& executable) {
    fs::create_directories(folder_.path / std::to_string(pid));
    fs::create_symlink(executable, folder_.path / std::to_string(pid) / "exe");
  }
  void addFolder(const std::string& name) { fs::create_directories(folder_.path / name); }
  std::string root() const { return folder_.path.string(); }

 private:
  TempFolder folder_;
};

TEST(ProcessWalk, KeepsProcessesStartedFromTheResourceFolderHighestIdFirst) {
  const std::string resources = "/opt/vistrelle/resources";
  ProcFixture proc;
  proc.add(120, resources + "/unity/CompanionApp");
  proc.add(7, resources + "/helper");
  proc.add(300, "/usr/bin/bash");
  // Only a prefix of the folder's name, not the folder.
  proc.add(301, "/opt/vistrelle/resources-old/helper");
  proc.add(45, resources + "/" + std::string(300, 'n'));
  proc.addFolder("99");  // no exe link: gone, or not ours to inspect
  proc.addFolder("self");
  proc.addFolder("sys");

  const auto processes = runningProcessesFrom(resources, proc.root());
  ASSERT_TRUE(processes);
  ASSERT_EQ(processes->size(), 3u);
  EXPECT_EQ((*processes)[0],
            Value(Value::Map{{"ProcessName", "CompanionApp"}, {"ProcessID", "120"}}));
  EXPECT_EQ((*processes)[1]["ProcessID"], Value("45"));
  EXPECT_EQ((*processes)[1]["ProcessName"], Value(std::string(255, 'n')));
  EXPECT_EQ((*processes)[2], Value(Value::Map{{"ProcessName", "helper"}, {"ProcessID", "7"}}));

  EXPECT_EQ(processNameWithPid(300, resources, proc.root()), "");
  EXPECT_EQ(processNameWithPid(99, resources, proc.root()), "");
  EXPECT_EQ(processNameWithPid(7, "", proc.root()), "");
}

TEST(ProcessWalk, AnUnreadableOrEmptyTableIsNone) {
  ProcFixture empty;
  empty.addFolder("self");
  EXPECT_FALSE(runningProcessesFrom("/opt/x", empty.root()));
  EXPECT_FALSE(runningProcessesFrom("/opt/x", "/nonexistent/proc"));
}

TEST(ProcessWalk, FindsThisTestProgramByItsOwnFolder) {
  const fs::path self = fs::read_symlink("/proc/self/exe");
  const auto processes = runningProcessesFrom(self.parent_path().string());
  ASSERT_TRUE(processes);
  const Value me(Value::Map{{"ProcessName", self.filename().string()},
                            {"ProcessID", std::to_string(::getpid())}});
  EXPECT_NE(std::find(processes->begin(), processes->end(), me), processes->end());
}

TEST(InterfaceAddresses, HelpersOverATable) {
  EXPECT_EQ(hexByte(0), "00");
  EXPECT_EQ(hexByte(0xab), "ab");
  EXPECT_EQ(hexByte(0xff), "ff");

  const std::vector<InterfaceEntry> entries = {
      {"lo", IFF_UP | IFF_LOOPBACK, AF_PACKET, {0, 0, 0, 0, 0, 0}, "", ""},
      {"lo", IFF_UP | IFF_LOOPBACK, AF_INET, {}, "127.0.0.1", "255.0.0.0"},
      {"eth1", 0, AF_PACKET, {1, 2, 3, 4, 5, 6}, "", ""},
      {"eth0", IFF_UP, AF_PACKET, {0xde, 0xad, 0xbe, 0xef, 0x00, 0x01, 0x77}, "", ""},
      {"eth0", IFF_UP, AF_INET, {}, "192.168.1.20", "255.255.255.0"},
      {"eth0", IFF_UP, AF_INET, {}, "10.1.2.3", "255.255.0.0"},
      {"tun0", IFF_UP, AF_PACKET, {9, 9}, "", ""},
      // The last entry of the name wins.
      {"eth0", IFF_UP, AF_PACKET, {0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f}, "", ""},
  };
  EXPECT_EQ(defaultInterfaceName(entries), "eth0");
  EXPECT_EQ(defaultInterfaceName({entries[0], entries[2]}), "");
  EXPECT_EQ(hardwareAddressOf(entries, "eth0"), "0a:0b:0c:0d:0e:0f");
  EXPECT_EQ(hardwareAddressOf(entries, "eth1"), "01:02:03:04:05:06");
  EXPECT_EQ(hardwareAddressOf(entries, "tun0"), "00:00:00:00:00:00");  // under 6 bytes
  EXPECT_EQ(hardwareAddressOf(entries, "wlan9"), "00:00:00:00:00:00");
  EXPECT_EQ(hardwareAddressOf(std::nullopt, "eth0"), "00:00:00:00:00:00");
  EXPECT_EQ(netmaskOf(entries, "10.1.2.3"), "255.255.0.0");
  EXPECT_EQ(netmaskOf(entries, "127.0.0.1"), "255.0.0.0");
  EXPECT_EQ(netmaskOf(entries, "10.1.2.4"), std::nullopt);
  EXPECT_EQ(netmaskOf(std::nullopt, "10.1.2.3"), std::nullopt);
}

TEST(InterfaceAddresses, ThisHostsLoopbackNetmask) {
  const auto entries = readInterfaces();
  ASSERT_TRUE(entries);
  EXPECT_EQ(netmaskOf(entries, "127.0.0.1"), "255.0.0.0");
  const std::string address = hardwareAddress();
  EXPECT_EQ(address.size(), 17u) << address;
}

}  // namespace
}  // namespace vistrelle::netlocal
