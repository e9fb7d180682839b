// The HID layer under the boot-loader client, on a fake transport.
#include <gtest/gtest.h>

#include "device/firmware/firmware_test_support.h"
#include "device/firmware/hid_io.h"
#include "platform/hid/fake/fake_hid_io_transport.h"

namespace vistrelle::device {
namespace {

class HidIOTest : public ::testing::Test {
 protected:
  std::shared_ptr<hid::FakeHidIoTransport> transport = std::make_shared<hid::FakeHidIoTransport>();
  testing::LogLines log;
};

TEST_F(HidIOTest, OwnsOneInitExitPairAndClosesBeforeExit) {
  {
    HidIO io(transport, log.sink());
    EXPECT_EQ(transport->users(), 1);
    transport->addDevice({"a", 0x0416, 0x3F00, 0});
    ASSERT_TRUE(io.OpenDevice(0x0416, 0x3F00, 0));
    EXPECT_EQ(transport->openHandles(), 1);
  }
  EXPECT_EQ(transport->openHandles(), 0);
  EXPECT_EQ(transport->users(), 0);

  transport->failInit(true);
  HidIO failed(transport, log.sink());
  EXPECT_TRUE(log.contains("***hid_init failed!***"));
  EXPECT_FALSE(failed.OpenDevice(0x0416, 0x3F00, 0)) << "created, but opens fail";
  EXPECT_EQ(transport->users(), 0);
}

TEST_F(HidIOTest, OpensTheFirstMatchOnTheAskedInterface) {
  transport->addDevice({"other", 0x0416, 0x3F01, 0});
  transport->addDevice({"second-interface", 0x0416, 0x3F00, 1});
  transport->addDevice({"first-interface", 0x0416, 0x3F00, 0});
  transport->addDevice({"later", 0x0416, 0x3F00, 0});
  HidIO io(transport, log.sink());
  ASSERT_TRUE(io.OpenDevice(0x0416, 0x3F00, 0));
  EXPECT_EQ(io.path(), "first-interface");
  EXPECT_TRUE(log.contains("\n path=first-interface"));
  ASSERT_NE(io.openByIds(0x0416, 0x3F00, -1), nullptr) << "-1: any interface";
  EXPECT_EQ(io.path(), "second-interface");
  EXPECT_EQ(io.openByIds(0x0416, 0x3F00, 5), nullptr);
  EXPECT_EQ(transport->openedPaths(),
            (std::vector<std::string>{"first-interface", "second-interface"}));
}

TEST_F(HidIOTest, KeepsAtMost259BytesOfThePath) {
  const std::string longPath(300, 'p');
  transport->addDevice({longPath, 0x0416, 0x3F00, 0});
  HidIO io(transport, log.sink());
  ASSERT_TRUE(io.OpenDevice(0x0416, 0x3F00, 0));
  EXPECT_EQ(io.path(), longPath.substr(0, 259));
  EXPECT_EQ(transport->openedPaths().back(), longPath) << "opened by the whole path";
}

TEST_F(HidIOTest, NoDeviceOrOneThatWillNotOpen) {
  HidIO io(transport, log.sink());
  EXPECT_FALSE(io.OpenDevice(0x0416, 0x3F00, 0));
  EXPECT_TRUE(log.contains("\nOpendevice....handle=(nil)"));
  transport->addDevice({"locked", 0x0416, 0x3F00, 0});
  transport->refuseOpen("locked");
  EXPECT_FALSE(io.OpenDevice(0x0416, 0x3F00, 0));
  EXPECT_FALSE(io.isOpen());
}

TEST_F(HidIOTest, ReadsExactlyNAndWritesNOrNMinusOne) {
  transport->addDevice({"a", 0x0416, 0x3F00, 0});
  HidIO io(transport, log.sink());
  ASSERT_TRUE(io.OpenDevice(0x0416, 0x3F00, 0));
  std::array<uint8_t, 64> buffer{};
  size_t received = 99;
  transport->queueRead(std::vector<uint8_t>(64, 1));
  EXPECT_TRUE(io.ReadReport(buffer.data(), 64, received, 100));
  EXPECT_EQ(received, 64u);
  EXPECT_EQ(transport->lastTimeoutMs(), 100);
  transport->queueRead(std::vector<uint8_t>(63, 1));
  EXPECT_FALSE(io.ReadReport(buffer.data(), 64, received, 100));
  EXPECT_EQ(received, 63u) << "reported even when short";
  EXPECT_FALSE(io.ReadReport(buffer.data(), 64, received, 100)) << "time-out";
  EXPECT_EQ(received, 0u);
  transport->queueReadError();
  EXPECT_FALSE(io.ReadReport(buffer.data(), 64, received, 100));

  const std::array<uint8_t, 65> report{};
  for (const auto& [counted, accepted] :
       std::vector<std::pair<int, bool>>{{65, true}, {64, true}, {63, false}, {-1, false}}) {
    transport->setWriteResult(counted);
    EXPECT_EQ(io.WriteReport(report.data(), report.size()), accepted) << counted;
  }
}

}  // namespace
}  // namespace vistrelle::device
