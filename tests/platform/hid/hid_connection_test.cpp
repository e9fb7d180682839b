#include "platform/hid/hid_connection.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <cerrno>
#include <vector>

#include "platform/hid/linux/hidraw_backend.h"
#include "platform/hid/linux/hidraw_node_description.h"

namespace vistrelle::hid {
namespace {

using Bytes = std::vector<uint8_t>;

// Report ID 1: 4 input bytes; report ID 2: 3 output bytes.
const Bytes kNumbered{0x75, 0x08, 0x85, 0x01, 0x95, 0x04, 0x81,
                      0x02, 0x85, 0x02, 0x95, 0x03, 0x91, 0x02};

// A connection over one end of a datagram socket pair, the other end kept as
// the device's.
struct Pair {
  explicit Pair(const Bytes& descriptor) {
    int ends[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends), 0);
    device.reset(ends[1]);
    connection = std::make_unique<HidConnection>(dispatch::UniqueFd(ends[0]), "node", descriptor);
  }
  Bytes deviceReads() {
    Bytes buffer(256);
    const ssize_t n = ::recv(device.get(), buffer.data(), buffer.size(), MSG_DONTWAIT);
    buffer.resize(n > 0 ? size_t(n) : 0);
    return buffer;
  }
  dispatch::UniqueFd device;
  std::unique_ptr<HidConnection> connection;
};

TEST(HidConnection, ReadsStripTheIdAndTellEmptyFromGone) {
  Pair pair(kNumbered);
  Bytes buffer(65);
  EXPECT_EQ(pair.connection->read(buffer).status, HidConnection::ReadStatus::Empty);
  const Bytes report{1, 10, 20, 30, 40};
  ASSERT_EQ(::send(pair.device.get(), report.data(), report.size(), 0), 5);
  const auto result = pair.connection->read(buffer);
  ASSERT_EQ(result.status, HidConnection::ReadStatus::Report);
  EXPECT_EQ(result.report.reportId, 1);
  EXPECT_EQ(Bytes(result.report.bytes.begin(), result.report.bytes.end()), (Bytes{10, 20, 30, 40}));
  pair.device.reset();
  EXPECT_EQ(pair.connection->read(buffer).status, HidConnection::ReadStatus::Gone);
}

TEST(HidConnection, WritesAreFramedAndStopAtDetach) {
  Pair pair(kNumbered);
  EXPECT_EQ(pair.connection->write(2, Bytes{9, 8, 7, 6, 5}), 0);
  EXPECT_EQ(pair.deviceReads(), (Bytes{2, 9, 8, 7}));
  pair.connection->detach();
  EXPECT_TRUE(pair.connection->detached());
  EXPECT_EQ(pair.connection->write(2, Bytes{1}), -ENODEV);
  EXPECT_TRUE(pair.deviceReads().empty());
}

TEST(HidConnection, WriteToAHungUpPeerFailsWithoutASignal) {
  Pair pair({});
  pair.device.reset();
  // SIGPIPE would end the test process here.
  EXPECT_EQ(pair.connection->write(2, Bytes{1, 2}), -EPIPE);
}

TEST(HidrawBackend, OpenFailuresCarryErrnoAndReason) {
  HidrawBackend backend;
  HidDeviceInfo missing;
  missing.path = "/dev/hidraw-none-such";
  HidOpenResult result = backend.open(missing);
  EXPECT_FALSE(result.connection);
  EXPECT_EQ(result.error, ENOENT);
  EXPECT_NE(result.reason.find("/dev/hidraw-none-such"), std::string::npos);
  // Not a hidraw node: its descriptor cannot be read.
  HidDeviceInfo notHid;
  notHid.path = "/dev/null";
  result = backend.open(notHid);
  EXPECT_FALSE(result.connection);
  EXPECT_NE(result.error, 0);
  EXPECT_NE(result.reason.find("report descriptor"), std::string::npos);
}

TEST(HidrawNodeDescription, AttributesTable) {
  struct Case {
    const char* name;
    HidrawNodeAttributes attributes;
    HidDeviceInfo expected;
  };
  const std::vector<Case> cases{
      {"USB glasses",
       {"/dev/hidraw3", "1-2.3", "0483\n", "8003\n", "0213\n", "ORVEX Glass 2\n",
        "0003:00000483:00008003"},
       {"/dev/hidraw3", "1-2.3", 0x0483, 0x8003, "0213", "ORVEX Glass 2"}},
      {"ids from HID_ID without a USB parent",
       {"/dev/hidraw0", std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
        "0005:0000045E:000002FD"},
       {"/dev/hidraw0", "", 0x045E, 0x02FD, std::nullopt, std::nullopt}},
      {"a removal: the node only",
       {"/dev/hidraw1", std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
        std::nullopt},
       {"/dev/hidraw1", "", 0, 0, std::nullopt, std::nullopt}},
      {"malformed ids give zero",
       {"/dev/hidraw2", "3-1", "04833", "zz", std::nullopt, std::nullopt, "0003:1FFFF:0001"},
       {"/dev/hidraw2", "3-1", 0, 0, std::nullopt, std::nullopt}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(describeHidrawNode(c.attributes), c.expected);
  }
}

}  // namespace
}  // namespace vistrelle::hid
