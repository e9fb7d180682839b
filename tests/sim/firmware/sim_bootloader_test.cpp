// The simulated boot loader as a host reaches it: raw reports through the
// simulated bus, checked byte by byte.
#include <gtest/gtest.h>

#include <array>

#include "sim/firmware/sim_bootloader.h"
#include "sim/hid/sim_hid_io_transport.h"

namespace vistrelle::sim {
namespace {

// [0x00, u32 command, u32 number, data]
std::vector<uint8_t> packet(uint32_t command, uint32_t number, std::vector<uint8_t> data = {}) {
  std::vector<uint8_t> bytes(65, 0);
  for (int i = 0; i < 4; ++i) {
    bytes[1 + i] = static_cast<uint8_t>(command >> (8 * i));
    bytes[5 + i] = static_cast<uint8_t>(number >> (8 * i));
  }
  std::copy(data.begin(), data.end(), bytes.begin() + 9);
  return bytes;
}

uint16_t checksum(const std::vector<uint8_t>& bytes) {
  uint32_t sum = 0;
  for (uint8_t byte : bytes) sum += byte;
  return static_cast<uint16_t>(sum);
}

class Bootloader : public ::testing::Test {
 protected:
  void SetUp() override {
    SimBootloader::Identity identity;
    identity.model = 2;
    identity.product = 0x21;
    identity.deviceId = 0x01020304;
    identity.version = 0x33;
    device = std::make_unique<SimBootloader>(bus, identity);
    device->plug();
    const auto found = transport->enumerate(0x0416, 0x3F00);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].interfaceNumber, 0);
    handle = transport->openPath(found[0].path);
    ASSERT_TRUE(handle);
  }
  // The reply to `request`, or what a time-out gives.
  std::vector<uint8_t> exchange(const std::vector<uint8_t>& request, int timeoutMs = 5000) {
    EXPECT_EQ(handle->write(request), 65);
    std::array<uint8_t, 64> reply{};
    const int n = handle->readTimeout(reply, timeoutMs);
    return n > 0 ? std::vector<uint8_t>(reply.begin(), reply.begin() + n) : std::vector<uint8_t>{};
  }

  std::shared_ptr<SimHidBus> bus = SimHidBus::create();
  std::shared_ptr<SimHidIoTransport> transport = std::make_shared<SimHidIoTransport>(bus);
  std::unique_ptr<SimBootloader> device;
  std::unique_ptr<hid::HidIoHandle> handle;
};

TEST_F(Bootloader, AnswersWithTheChecksumTheNextNumberAndItsData) {
  const auto sync = packet(0xA4, 1, {1, 0, 0, 0});
  std::vector<uint8_t> expected(64, 0);
  expected[0] = 0xA6;
  expected[4] = 2;
  EXPECT_EQ(exchange(sync), expected);

  const auto id = packet(0xB1, 3);
  const auto reply = exchange(id);
  ASSERT_EQ(reply.size(), 64u);
  EXPECT_EQ(reply[0] | reply[1] << 8, checksum(id));
  EXPECT_EQ(reply[4], 4);
  EXPECT_EQ(std::vector<uint8_t>(reply.begin() + 9, reply.begin() + 15),
            (std::vector<uint8_t>{0x04, 0x03, 0x02, 0x01, 2, 0x21}));

  EXPECT_EQ(exchange(packet(0xA6, 5))[9], 0x33);
  std::vector<uint8_t> config(16);
  for (size_t i = 0; i < config.size(); ++i) config[i] = static_cast<uint8_t>(i * 3);
  const auto written = exchange(packet(0xA1, 7, config));
  EXPECT_EQ(std::vector<uint8_t>(written.begin() + 9, written.begin() + 25), config);
  const auto read = exchange(packet(0xA2, 9));
  EXPECT_EQ(std::vector<uint8_t>(read.begin() + 9, read.begin() + 25), config);
  EXPECT_EQ(device->commands(), (std::vector<uint32_t>{0xA4, 0xB1, 0xA6, 0xA1, 0xA2}));
}

TEST_F(Bootloader, IgnoresWhatIsNotTheNextIspPacket) {
  exchange(packet(0xA4, 1, {1, 0, 0, 0}));
  // A glasses command report as the command layer writes it: [0, 64 bytes].
  std::vector<uint8_t> glasses(65, 0);
  glasses[1] = 64;
  glasses[9] = 8;
  glasses[11] = 1;
  EXPECT_TRUE(exchange(glasses, 50).empty());
  EXPECT_TRUE(exchange(packet(0x00, 3, {1, 2, 3}), 50).empty()) << "no image under way";
  EXPECT_TRUE(exchange(packet(0xA6, 5), 50).empty()) << "3 is due";
  EXPECT_EQ(exchange(packet(0xA6, 3))[4], 4);
  // Handled in order: the writes before this answer were all seen.
  EXPECT_EQ(device->ignoredWrites(), 2u);
  EXPECT_EQ(device->outOfOrderPackets(), 1u);
}

TEST_F(Bootloader, FlashesAndLeavesOnlyForTheExpectedImage) {
  const std::vector<uint8_t> image{9, 8, 7, 6, 5};
  device->expectImage(image);
  exchange(packet(0xA4, 1, {1, 0, 0, 0}));
  // Start address 0, total 5, then the bytes.
  const std::vector<uint8_t> first{0, 0, 0, 0, 5, 0, 0, 0, 9, 8, 7, 6, 5};
  EXPECT_EQ(exchange(packet(0xA0, 3, first)).size(), 64u);
  EXPECT_EQ(device->flash(5), image);
  // Another image's 0xAB would leave it in the boot loader; this one's runs.
  EXPECT_EQ(handle->write(packet(0xAB, 5)), 65);
  EXPECT_TRUE(device->waitUntilPlugged(false));
  EXPECT_TRUE(device->ran());

  device->plug();
  EXPECT_EQ(device->flash(5), std::vector<uint8_t>(5, 0xFF)) << "erased at each plug";
}

}  // namespace
}  // namespace vistrelle::sim
