#include "netlocal/socket/gcd_async_socket_pre_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "netlocal/socket/gcd_async_read_packet.h"

namespace vistrelle::netlocal {
namespace {

void put(GCDAsyncSocketPreBuffer& buffer, const std::string& bytes) {
  buffer.ensureCapacityForWrite(bytes.size());
  std::memcpy(buffer.writeBuffer(), bytes.data(), bytes.size());
  buffer.didWrite(bytes.size());
}

std::string pending(const GCDAsyncSocketPreBuffer& buffer) {
  return std::string(reinterpret_cast<const char*>(buffer.readBuffer()), buffer.availableBytes());
}

TEST(GCDAsyncSocketPreBuffer, KeepsUnreadBytesAcrossGrowthAndResetsWhenDrained) {
  GCDAsyncSocketPreBuffer buffer(8);
  put(buffer, "abcdef");
  buffer.didRead(2);
  put(buffer, std::string(100, 'z'));  // needs growth; the unread bytes survive
  EXPECT_EQ(pending(buffer).substr(0, 4), "cdef");
  EXPECT_EQ(buffer.availableBytes(), 104u);
  buffer.didRead(104);
  EXPECT_EQ(buffer.availableBytes(), 0u);
  EXPECT_EQ(buffer.availableSpace(), buffer.capacity());  // back to the start
}

TEST(GCDAsyncSocketPreBuffer, GrowsGeometricallyForSmallShortfalls) {
  GCDAsyncSocketPreBuffer buffer(16);
  size_t grows = 0, capacity = buffer.capacity();
  for (int i = 0; i < 10000; ++i) {
    put(buffer, "x");
    if (buffer.capacity() != capacity) {
      ++grows;
      capacity = buffer.capacity();
    }
  }
  EXPECT_EQ(buffer.availableBytes(), 10000u);
  EXPECT_LE(grows, 12u);
}

struct TermCase {
  const char* name;
  std::string taken;  // bytes already in the request
  std::string pre;    // bytes in the pre-buffer
  size_t maxLength;
  size_t expectedLength;
  bool expectedFound;
};

class GCDAsyncReadPacketTerm : public ::testing::TestWithParam<TermCase> {};

TEST_P(GCDAsyncReadPacketTerm, TakesThroughTheFirstTerminator) {
  const TermCase& c = GetParam();
  GCDAsyncReadPacket packet(nullptr, 0, c.maxLength, -1, 0, Bytes{'\r', '\n'}, 0);
  packet.ensureCapacityForAdditionalDataOfLength(c.taken.size());
  if (!c.taken.empty()) std::memcpy(packet.writePointer(), c.taken.data(), c.taken.size());
  packet.bytesDone = c.taken.size();
  GCDAsyncSocketPreBuffer buffer(64);
  put(buffer, c.pre);
  bool found = false;
  EXPECT_EQ(packet.readLengthForTermWithPreBuffer(buffer, &found), c.expectedLength);
  EXPECT_EQ(found, c.expectedFound);
}

INSTANTIATE_TEST_SUITE_P(Cases, GCDAsyncReadPacketTerm,
                         ::testing::Values(TermCase{"inside", "", "ab\r\ncd", 0, 4, true},
                                           TermCase{"straddling", "ab\r", "\ncd", 0, 1, true},
                                           TermCase{"absent", "ab", "cdef", 0, 4, false},
                                           TermCase{"lateCrOnly", "ab", "c\r", 0, 2, false},
                                           TermCase{"cutByMaximum", "", "abcdef\r\n", 5, 5, false},
                                           TermCase{"atMaximum", "", "abc\r\nxyz", 5, 5, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(GCDAsyncReadPacket, SearchAfterDirectReadCountsBytesPastTheTerminator) {
  GCDAsyncReadPacket packet(std::make_shared<Bytes>(32), 0, 0, -1, 0, Bytes{'\r', '\n'}, 0);
  const std::string first = "ab\r";
  std::memcpy(packet.writePointer(), first.data(), first.size());
  EXPECT_EQ(packet.searchForTermAfterPreBuffering(first.size()), -1);
  packet.bytesDone = first.size();
  const std::string second = "\nxyz";
  std::memcpy(packet.writePointer(), second.data(), second.size());
  EXPECT_EQ(packet.searchForTermAfterPreBuffering(second.size()), 3);
}

}  // namespace
}  // namespace vistrelle::netlocal
