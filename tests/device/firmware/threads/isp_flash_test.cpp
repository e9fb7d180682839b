// The boot-loader client writing images into the simulated boot loader,
// through the simulated bus's transport.
#include <gtest/gtest.h>

#include "device/firmware/dfu_firmware_file.h"
#include "device/firmware/firmware_test_support.h"
#include "device/firmware/isp_ld_cmd.h"
#include "sim/firmware/sim_bootloader.h"
#include "sim/hid/sim_hid_io_transport.h"
#include "support/finishes_within.h"

namespace vistrelle::device {
namespace {

using sim::SimBootloader;
using Fault = SimBootloader::Fault;

constexpr uint32_t kSync = 0xA4, kFirst = 0xA0, kNext = 0x00, kRun = 0xAB, kId = 0xB1;

class IspFlash : public ::testing::Test {
 protected:
  void SetUp() override { bootloader.plug(); }

  std::unique_ptr<ISPLdCMD> client(int timeoutMs = IspPacket::kShortTimeoutMs,
                                   int longTimeoutMs = IspPacket::kLongTimeoutMs) {
    ISPLdCMD::Options options;
    options.transport = transport;
    options.log = log.sink();
    options.shortTimeoutMs = timeoutMs;
    options.longTimeoutMs = longTimeoutMs;
    auto command = std::make_unique<ISPLdCMD>(options);
    command->SetCallback(&callback);
    EXPECT_TRUE(command->OpenPort());
    return command;
  }
  // Reads a headered file of `image` into `command`.
  void load(ISPLdCMD& command, const std::vector<uint8_t>& image) {
    DfuFirmwareFile::Version version{};
    ASSERT_TRUE(command.UpdateFileInfo(
        folder.write("image.bin", DfuFirmwareFile::build("V1", image)), version, true));
  }

  std::shared_ptr<sim::SimHidBus> bus = sim::SimHidBus::create();
  std::shared_ptr<sim::SimHidIoTransport> transport = std::make_shared<sim::SimHidIoTransport>(bus);
  SimBootloader bootloader{bus};
  testing::ScratchFolder folder;
  testing::LogLines log;
  testing::RecordingCallback callback;
};

// The packets an image of `size` bytes goes in: 0xA0 with up to 48 bytes,
// then 0x00 with up to 56 each.
TEST_F(IspFlash, ImagesAreSplitIntoPacketsAndLandInTheFlash) {
  const std::vector<std::pair<uint32_t, size_t>> table = {{1, 0},   {48, 0},  {49, 1},
                                                          {104, 1}, {105, 2}, {0x78000, 8777}};
  for (const auto& [size, continuations] : table) {
    SCOPED_TRACE(size);
    bootloader.unplug();
    bootloader.plug();
    testing::RecordingCallback outcome;
    auto command = client();
    command->SetCallback(&outcome);
    const std::vector<uint8_t> image = testing::testImage(size, static_cast<uint8_t>(size));
    load(*command, image);
    command->FlashFile();
    EXPECT_EQ(outcome.outcome(), (std::vector<std::string>{"success"}));
    ASSERT_TRUE(bootloader.waitForCommands(3 + continuations));
    std::vector<uint32_t> expected{kSync, kFirst};
    expected.insert(expected.end(), continuations, kNext);
    expected.push_back(kRun);
    EXPECT_EQ(bootloader.commands(), expected);
    EXPECT_EQ(bootloader.outOfOrderPackets(), 0u) << "numbered 1, 3, 5, ...";
    EXPECT_EQ(bootloader.flash(size), image);
    EXPECT_TRUE(log.contains("\n\n\n\nm_uAPROM_Size=0x78000"));
    EXPECT_EQ(command->flashLayout().apromSize, 0x78000u);
  }
}

TEST_F(IspFlash, ProgressRisesByWholePercentsTo100) {
  auto command = client();
  load(*command, testing::testImage(1000));
  command->FlashFile();
  const std::vector<float> progress = callback.progress();
  ASSERT_GE(progress.size(), 6u);
  EXPECT_EQ(std::vector<float>(progress.begin(), progress.begin() + 5),
            (std::vector<float>{0, 4, 10, 16, 21}));
  EXPECT_EQ(progress.back(), 100);
  for (size_t i = 1; i < progress.size(); ++i) EXPECT_GT(progress[i], progress[i - 1]);
  EXPECT_EQ(callback.events().back(), "success");
  EXPECT_EQ(log.lines().back(), "\n------------Stop flash file end----------");
}

TEST_F(IspFlash, ImagesThatCannotBeFlashedSendNothing) {
  struct Case {
    uint32_t size;
    std::string failure;
    std::string line;
  };
  for (const auto& c :
       std::vector<Case>{{0x78001, "fail -4", "内存溢出"},
                         {0, "fail -1", "文件长度不正确需要检查固件...end fileInf.st_size=0"}}) {
    SCOPED_TRACE(c.size);
    testing::RecordingCallback outcome;
    auto command = client();
    command->SetCallback(&outcome);
    load(*command, testing::testImage(c.size));
    command->FlashFile();
    EXPECT_EQ(outcome.events(), (std::vector<std::string>{c.failure}));
    EXPECT_TRUE(log.contains(c.line));
  }
  EXPECT_TRUE(bootloader.commands().empty());
}

TEST_F(IspFlash, AnUnansweredSyncOrModelStopsTheFlashBeforeAnyImagePacket) {
  auto command = client();
  bootloader.setFault(Fault::BadChecksum, 0);  // the 0xB1 of GetBlVersion
  EXPECT_EQ(command->GetBlVersion(), 0);
  load(*command, testing::testImage(200));
  command->FlashFile();
  EXPECT_EQ(callback.outcome(), (std::vector<std::string>{"fail -2"}));
  EXPECT_EQ(bootloader.commands(), (std::vector<uint32_t>{kSync, kId, kSync}));

  bootloader.setFault(Fault::None, 0);
  bootloader.refuseSync(true);
  testing::RecordingCallback refused;
  auto second = client();
  second->SetCallback(&refused);
  load(*second, testing::testImage(200));
  second->FlashFile();
  EXPECT_EQ(refused.outcome(), (std::vector<std::string>{"fail -2"}));
  EXPECT_EQ(bootloader.commands().back(), kSync);
}

// A packet the boot loader does not answer properly ends the flash with -5
// and -2, and the new image is never started.
TEST_F(IspFlash, AFailedPacketIsReportedTwiceAndNothingIsStarted) {
  for (const Fault fault : {Fault::BadChecksum, Fault::WrongNumber, Fault::NoReply,
                            Fault::ShortReply, Fault::Disconnect}) {
    SCOPED_TRACE(static_cast<int>(fault));
    bootloader.unplug();
    bootloader.plug();
    bootloader.setFault(fault, 5);  // the fifth image packet: no 0xB1 here
    testing::RecordingCallback outcome;
    auto command = client(200, 200);
    command->SetCallback(&outcome);
    load(*command, testing::testImage(1000));
    command->FlashFile();
    EXPECT_EQ(outcome.outcome(), (std::vector<std::string>{"fail -5", "fail -2"}));
    const auto commands = bootloader.commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), kRun), 0);
    EXPECT_TRUE(log.contains("Flash failed!!!!"));
  }
  EXPECT_TRUE(log.contains("\nFlash failed,exit!!!")) << "said for a malformed reply";
}

TEST_F(IspFlash, AFailingRunWriteIsAFailure) {
  bootloader.failRunAprom(true);
  auto command = client();
  load(*command, testing::testImage(300));
  command->FlashFile();
  EXPECT_EQ(callback.outcome(), (std::vector<std::string>{"fail -2"}));
  EXPECT_TRUE(log.contains("Can't run APRom"));
  EXPECT_EQ(bootloader.commands().back(), kNext) << "0xAB never arrived";
}

TEST_F(IspFlash, RepliesAreWaitedForOnlyAsLongAsAllowed) {
  bootloader.setFault(Fault::NoReply, 0);
  auto command = client(20, 20);
  EXPECT_EQ(command->GetVersion(), 0);
  EXPECT_TRUE(command->error());
  EXPECT_FALSE(command->replyError());
  EXPECT_EQ(command->GetVersion(), 0x2D) << "the next request is answered";
}

TEST_F(IspFlash, AClosedPortFailsEveryRequestAtOnce) {
  bootloader.setFault(Fault::NoReply, 0);
  auto shared = std::shared_ptr<ISPLdCMD>(client());
  load(*shared, testing::testImage(300));
  shared->ClosePort();
  EXPECT_EQ(transport->users(), 0);
  const size_t before = bootloader.commands().size();
  EXPECT_TRUE(testing::finishesWithin(std::chrono::seconds(2), [shared] {
    shared->SyncPacketNumber();
    shared->GetVersion();
    shared->GetBlVersion();
    shared->FlashFile();
  }));
  EXPECT_EQ(bootloader.commands().size(), before);
  // The failed requests above left the error flag set.
  EXPECT_EQ(callback.outcome(), (std::vector<std::string>{"fail -2"}));
}

}  // namespace
}  // namespace vistrelle::device
