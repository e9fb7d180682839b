// The boot loader's packets byte for byte, and the client's requests and
// replies over a fake transport.
#include <gtest/gtest.h>

#include "device/firmware/firmware_test_support.h"
#include "device/firmware/isp_ld_cmd.h"
#include "device/firmware/isp_packet.h"
#include "platform/hid/fake/fake_hid_io_transport.h"

namespace vistrelle::device {
namespace {

std::vector<uint8_t> goldenSync() {
  std::vector<uint8_t> bytes(65, 0);
  bytes[1] = 0xA4;
  bytes[5] = 0x01;
  bytes[9] = 0x01;
  return bytes;
}

// A reply as the boot loader gives it: checksum, number, data from byte 9.
std::vector<uint8_t> reply(uint16_t checksum, uint32_t number, std::vector<uint8_t> data = {}) {
  std::vector<uint8_t> bytes(64, 0);
  bytes[0] = static_cast<uint8_t>(checksum);
  bytes[1] = static_cast<uint8_t>(checksum >> 8);
  IspPacket::writeU32(bytes, 4, number);
  std::copy(data.begin(), data.end(), bytes.begin() + 9);
  return bytes;
}

TEST(IspPacket, SyncRequestIsGolden) {
  const std::array<uint8_t, 4> one{1, 0, 0, 0};
  const IspPacket sync(isp_command::kSyncPacketNumber, 1, one);
  const std::vector<uint8_t> bytes(sync.bytes().begin(), sync.bytes().end());
  EXPECT_EQ(bytes, goldenSync());
  EXPECT_EQ(sync.checksum(), 0xA6);
  EXPECT_TRUE(IspPacket::replyMatches(reply(0xA6, 2), sync.checksum(), std::nullopt));
  EXPECT_EQ(reply(0xA6, 2)[0], 0xA6);
  EXPECT_EQ(reply(0xA6, 2)[1], 0x00);
}

TEST(IspPacket, DataIsCutAt56AndTheChecksumWrapsAt16Bits) {
  const std::vector<uint8_t> data(80, 0xFF);
  const IspPacket packet(0x00, 0x01020304, data);
  EXPECT_EQ(packet.bytes()[64], 0xFF);
  EXPECT_EQ(packet.number(), 0x01020304u);
  // 56 x 0xFF + 1 + 2 + 3 + 4 = 14,290: fits; 0xFFFFFFFF as command adds 1,020.
  EXPECT_EQ(packet.checksum(), 56 * 0xFF + 10);
  const IspPacket wide(0xFFFFFFFF, 0xFFFFFFFF, data);
  EXPECT_EQ(wide.checksum(), static_cast<uint16_t>(64 * 0xFF));
}

TEST(IspPacket, RepliesAreCheckedAndTheirDataCut) {
  EXPECT_TRUE(IspPacket::replyMatches(reply(0x1234, 8), 0x1234, 8u));
  EXPECT_FALSE(IspPacket::replyMatches(reply(0x1234, 7), 0x1234, 8u)) << "the request's own number";
  EXPECT_FALSE(IspPacket::replyMatches(reply(0x1235, 8), 0x1234, 8u));
  EXPECT_FALSE(IspPacket::replyMatches(std::vector<uint8_t>(32, 0), 0, std::nullopt));
  std::vector<uint8_t> full(64);
  for (size_t i = 0; i < full.size(); ++i) full[i] = static_cast<uint8_t>(i);
  std::array<uint8_t, 60> out{};
  EXPECT_EQ(IspPacket::replyData(full, out), 55u);
  EXPECT_EQ(out[0], 9);
  EXPECT_EQ(out[54], 63);
  EXPECT_EQ(out[55], 0);
}

class Client : public ::testing::Test {
 protected:
  Client() {
    transport->addDevice({"boot", 0x0416, 0x3F00, 0});
    ISPLdCMD::Options options;
    options.transport = transport;
    options.log = log.sink();
    command = std::make_unique<ISPLdCMD>(options);
  }
  // The checksum of what was written last.
  uint16_t lastChecksum() const {
    const auto written = transport->writes().back();
    uint32_t sum = 0;
    for (uint8_t byte : written) sum += byte;
    return static_cast<uint16_t>(sum);
  }

  std::shared_ptr<hid::FakeHidIoTransport> transport = std::make_shared<hid::FakeHidIoTransport>();
  testing::LogLines log;
  std::unique_ptr<ISPLdCMD> command;
};

TEST_F(Client, NumbersAdvanceOnlyForWrittenRequestsAndResetAtSync) {
  ASSERT_TRUE(command->OpenPort());
  EXPECT_TRUE(transport->lastBlocking());
  transport->queueRead(reply(0xA6, 2));
  command->SyncPacketNumber();
  EXPECT_EQ(transport->writes().back(), goldenSync());
  EXPECT_EQ(command->packetNumber(), 3u);
  EXPECT_FALSE(command->error());

  // GetVersion: number 3, answered with 4 and the version at byte 9.
  const IspPacket expected(isp_command::kGetVersion, 3);
  transport->queueRead(reply(expected.checksum(), 4, {0x2D}));
  EXPECT_EQ(command->GetVersion(), 0x2D);
  EXPECT_EQ(transport->writes().back(),
            std::vector<uint8_t>(expected.bytes().begin(), expected.bytes().end()));
  EXPECT_EQ(command->packetNumber(), 5u);

  // A write that fails: no number used, no reply waited for, the error kept.
  transport->setWriteResult(-1);
  EXPECT_EQ(command->GetDeviceID(), 0u);
  EXPECT_EQ(command->packetNumber(), 5u);
  EXPECT_TRUE(command->error());
  EXPECT_TRUE(log.contains("\n failed,close port!!!"));
  transport->setWriteResult(std::nullopt);

  transport->queueRead(reply(0xA6, 2));
  command->SyncPacketNumber();
  EXPECT_EQ(command->packetNumber(), 3u);
  EXPECT_TRUE(command->error()) << "an error stays until the port is closed";
}

TEST_F(Client, RepliesMustMatchTheRequest) {
  ASSERT_TRUE(command->OpenPort());
  // The request's own number where number + 1 is due.
  const IspPacket version(isp_command::kGetVersion, 1);
  transport->queueRead(reply(version.checksum(), 1, {0x2D}));
  EXPECT_EQ(command->GetVersion(), 0);
  EXPECT_TRUE(command->replyError());
  EXPECT_TRUE(log.contains("\n读取数据错误..."));

  // A short read fails without being a malformed reply.
  transport->queueRead(std::vector<uint8_t>(20, 0));
  std::array<uint8_t, 16> config{};
  command->ReadConfig(config);
  EXPECT_FALSE(command->replyError());
  EXPECT_TRUE(command->error());
  EXPECT_EQ(log.lines().back(), "\n---------ReadConfig done....----------");

  // The sync's number is not checked.
  transport->queueRead(reply(0xA6, 77));
  command->SyncPacketNumber();
  EXPECT_FALSE(command->replyError());
}

TEST_F(Client, ModelProductAndDeviceIdComeFromTheirBytes) {
  ASSERT_TRUE(command->OpenPort());
  // 0xB1 after a sync: number 3, data from byte 9.
  const IspPacket id(isp_command::kGetDeviceId, 3);
  transport->queueRead(reply(0xA6, 2));
  transport->queueRead(reply(id.checksum(), 4, {0x00, 0x51, 0x23, 0x00, 2, 0x11, 7, 8, 9}));
  EXPECT_EQ(command->GetBlVersion(), 2);
  EXPECT_TRUE(log.contains("\nBL 2,17,7,8"));

  transport->queueRead(reply(0xA6, 2));
  transport->queueRead(reply(id.checksum(), 4, {0x00, 0x51, 0x23, 0x00, 2, 0x11, 7, 8, 9}));
  EXPECT_EQ(command->GetProductId(), 0x11);

  const IspPacket plain(isp_command::kGetDeviceId, 5);
  transport->queueRead(reply(plain.checksum(), 6, {0x00, 0x51, 0x23, 0x00}));
  EXPECT_EQ(command->GetDeviceID(), 0x00235100u);
  EXPECT_EQ(transport->lastTimeoutMs(), IspPacket::kShortTimeoutMs);
}

TEST_F(Client, ConfigurationIsWrittenAndReadBackWithTheLongTimeOut) {
  ASSERT_TRUE(command->OpenPort());
  std::array<uint8_t, 16> config{};
  for (size_t i = 0; i < config.size(); ++i) config[i] = static_cast<uint8_t>(0xF0 + i);
  const IspPacket update(isp_command::kUpdateConfig, 1, config);
  std::vector<uint8_t> echoed(config.begin(), config.end());
  transport->queueRead(reply(update.checksum(), 2, echoed));
  std::array<uint8_t, 16> back{};
  EXPECT_TRUE(command->UpdateConfig(config, back));
  EXPECT_EQ(back, config);
  EXPECT_EQ(transport->lastTimeoutMs(), IspPacket::kLongTimeoutMs);
  EXPECT_EQ(transport->writes().back(),
            std::vector<uint8_t>(update.bytes().begin(), update.bytes().end()));
}

TEST_F(Client, RunAndResendAreWrittenAsTheyAre) {
  ASSERT_TRUE(command->OpenPort());
  EXPECT_TRUE(command->RunAPROM());
  EXPECT_EQ(transport->writes().back()[1], 0xAB);
  const IspPacket resend(isp_command::kResendPacket, 3);
  transport->queueRead(reply(resend.checksum(), 99));  // number not checked
  EXPECT_TRUE(command->ResendPacket());
}

TEST_F(Client, ClosedPortFailsEveryRequestAtOnce) {
  ASSERT_TRUE(command->OpenPort());
  command->ClosePort();
  EXPECT_FALSE(command->portOpen());
  EXPECT_FALSE(command->hasHidIO());
  EXPECT_EQ(transport->openHandles(), 0);
  EXPECT_EQ(transport->users(), 0) << "the library is let go with the HID layer";
  const size_t writes = transport->writes().size();
  command->SyncPacketNumber();
  EXPECT_TRUE(log.contains("\n\nCheck usb connection!"));
  EXPECT_EQ(command->GetVersion(), 0);
  EXPECT_TRUE(log.contains("There is no Nu-Link connected to a USB port."));
  EXPECT_EQ(command->GetProductId(), 2);
  EXPECT_FALSE(command->OpenPort());
  EXPECT_EQ(transport->writes().size(), writes);
}

}  // namespace
}  // namespace vistrelle::device
