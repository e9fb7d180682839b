// The update driver against the simulated boot loader: which image it picks,
// what it reports, and that it leaves nothing open behind it.
#include <gtest/gtest.h>

#include "device/firmware/dfu_notifications.h"
#include "device/firmware/dfu_update_driver.h"
#include "device/firmware/firmware_test_support.h"
#include "device/hid/hid_road_fixture.h"
#include "sim/firmware/sim_bootloader.h"
#include "sim/hid/sim_hid_io_transport.h"

namespace vistrelle::device {
namespace {

using sim::SimBootloader;
using Fault = SimBootloader::Fault;

constexpr uint32_t kSync = 0xA4, kId = 0xB1;

class Driver : public ::testing::Test {
 protected:
  Driver() {
    folder.write(std::string(DfuUpdateDriver::kImageModel1) + ".bin",
                 DfuFirmwareFile::build("V1.63", imageModel1));
    folder.write(std::string(DfuUpdateDriver::kImageOtherModels) + ".bin",
                 DfuFirmwareFile::build("V1.49", imageOthers));
  }

  std::unique_ptr<DfuUpdateDriver> driver(int timeoutMs = IspPacket::kShortTimeoutMs) {
    DfuUpdateDriver::Options options;
    options.transport = transport;
    options.center = &center;
    options.log = log.sink();
    options.imageFolder = folder.path();
    options.shortTimeoutMs = timeoutMs;
    options.longTimeoutMs =
        timeoutMs == IspPacket::kShortTimeoutMs ? IspPacket::kLongTimeoutMs : timeoutMs;
    return std::make_unique<DfuUpdateDriver>(options);
  }
  std::unique_ptr<SimBootloader> bootloader(uint8_t model) {
    SimBootloader::Identity identity;
    identity.model = model;
    auto device = std::make_unique<SimBootloader>(bus, identity);
    device->plug();
    return device;
  }
  std::vector<Value> statuses() const { return notes.objects(dfu_notifications::kStatus); }

  const std::vector<uint8_t> imageModel1 = testing::testImage(1000, 1);
  const std::vector<uint8_t> imageOthers = testing::testImage(1000, 2);
  std::shared_ptr<sim::SimHidBus> bus = sim::SimHidBus::create();
  std::shared_ptr<sim::SimHidIoTransport> transport = std::make_shared<sim::SimHidIoTransport>(bus);
  NotificationCenter center;
  testing::NoteLog notes{center};
  testing::ScratchFolder folder;
  testing::LogLines log;
};

TEST_F(Driver, Model1GetsTheFirstImageEveryOtherModelTheSecond) {
  for (const uint8_t model : {1, 0, 2, 3}) {
    SCOPED_TRACE(int{model});
    const auto& image = model == 1 ? imageModel1 : imageOthers;
    auto device = bootloader(model);
    device->expectImage(image);
    auto run = driver();
    EXPECT_EQ(run->runDfuUpdate(), 0);
    // 0xAB is written, not answered: the boot loader leaves when it has it.
    EXPECT_TRUE(device->waitUntilPlugged(false));
    EXPECT_TRUE(device->ran()) << "the expected image was flashed and started";
    EXPECT_EQ(notes.objects(dfu_notifications::kVersionShow).back(), Value(int{model}));
    EXPECT_TRUE(log.contains("\nGlassModel = " + std::to_string(model) + "\n"));
    EXPECT_TRUE(log.contains(std::string("\n result=1,out=") + (model == 1 ? "V1.63" : "V1.49")));
  }
  EXPECT_TRUE(statuses().empty()) << "success is posted by the connection road, not here";
}

TEST_F(Driver, EachRunClosesWhatItOpenedAndKeepsItsClient) {
  auto device = bootloader(1);
  auto run = driver();
  EXPECT_EQ(run->runDfuUpdate(), 0);
  ASSERT_NE(run->kept(), nullptr);
  EXPECT_FALSE(run->kept()->portOpen());
  EXPECT_EQ(transport->users(), 0) << "no handle open, the library let go";
  EXPECT_TRUE(testing::eventually([&] { return bus->readerCount(device->path()) == 0; }));
  EXPECT_EQ(log.lines().back(), "********************end***********************");

  // Without a boot loader.
  device->unplug();
  EXPECT_EQ(run->runDfuUpdate(), -1);
  EXPECT_TRUE(log.contains("\n无法打开DFU"));
  EXPECT_EQ(run->kept(), nullptr);
  EXPECT_EQ(transport->users(), 0);
}

TEST_F(Driver, AMissingImageIsReportedWithWhereItWasLookedFor) {
  std::filesystem::remove(folder.path() + "/" + DfuUpdateDriver::kImageOtherModels + ".bin");
  auto device = bootloader(2);
  auto run = driver();
  EXPECT_EQ(run->runDfuUpdate(), -1);
  EXPECT_TRUE(log.contains("\nDFU升级包不存在"));
  EXPECT_TRUE(log.contains("\nimage path=" + run->imagePathForModel(2)));
  EXPECT_EQ(device->commands(), (std::vector<uint32_t>{kSync, kId}));
  EXPECT_EQ(transport->users(), 0);
}

// The model must be known to pick the image, so the boot loader is asked for
// it before the image's checksum can be checked; no image packet goes.
TEST_F(Driver, AnImageWithABadChecksumIsRefusedBeforeAnyImagePacket) {
  std::vector<uint8_t> file = DfuFirmwareFile::build("V1.63", imageModel1);
  file[file.size() / 2] ^= 0x40;
  folder.write(std::string(DfuUpdateDriver::kImageModel1) + ".bin", file);
  auto device = bootloader(1);
  auto run = driver();
  EXPECT_EQ(run->runDfuUpdate(), -1);
  EXPECT_TRUE(log.contains("Bin error!"));
  EXPECT_TRUE(log.contains("\n result=0,out=V1.63"));
  EXPECT_TRUE(log.contains("\n错误!!!"));
  EXPECT_EQ(statuses(), (std::vector<Value>{Value(false)})) << "onFail(-1)";
  EXPECT_EQ(device->commands(), (std::vector<uint32_t>{kSync, kId}));
}

TEST_F(Driver, AFullVersionFieldIsLoggedWithinIts64Bytes) {
  const std::string full(64, 'V');
  folder.write(std::string(DfuUpdateDriver::kImageModel1) + ".bin",
               DfuFirmwareFile::build(full, imageModel1));
  auto device = bootloader(1);
  EXPECT_EQ(driver()->runDfuUpdate(), 0);
  EXPECT_TRUE(log.contains("\n result=1,out=" + full));
}

TEST_F(Driver, ProbeReadsTheModelAndClosesAgain) {
  auto run = driver();
  EXPECT_EQ(run->probeBootloaderModel(), -1);
  auto device = bootloader(3);
  EXPECT_EQ(run->probeBootloaderModel(), 3);
  EXPECT_EQ(transport->users(), 0);
  EXPECT_TRUE(testing::eventually([&] { return bus->readerCount(device->path()) == 0; }));
  EXPECT_TRUE(notes.objects(dfu_notifications::kVersionShow).empty());
}

// Every fault at the first (0xB1), a middle and the last counted packet ends
// in a failure the window is told of, never in a started image.
TEST_F(Driver, EveryFaultAnywhereEndsInFailure) {
  // 1000 bytes: 0xB1, then 0xA0 (48 bytes) and 17 x 0x00 (56 each), counted 0..18.
  struct Case {
    Fault fault;
    size_t packet;
    bool refuseSync = false;
    bool failRun = false;
  };
  std::vector<Case> cases;
  for (const Fault fault : {Fault::BadChecksum, Fault::WrongNumber, Fault::NoReply,
                            Fault::ShortReply, Fault::Disconnect}) {
    for (const size_t packet : {size_t{0}, size_t{9}, size_t{18}}) cases.push_back({fault, packet});
  }
  cases.push_back({Fault::None, 0, true, false});
  cases.push_back({Fault::None, 0, false, true});
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "fault " << static_cast<int>(c.fault) << " at " << c.packet
                 << (c.refuseSync ? ", sync refused" : "") << (c.failRun ? ", 0xAB fails" : ""));
    NotificationCenter own;
    testing::NoteLog ownNotes(own);
    testing::LogLines ownLog;
    auto device = bootloader(1);
    device->expectImage(imageModel1);
    device->setFault(c.fault, c.packet);
    device->refuseSync(c.refuseSync);
    device->failRunAprom(c.failRun);
    DfuUpdateDriver::Options options;
    options.transport = transport;
    options.center = &own;
    options.log = ownLog.sink();
    options.imageFolder = folder.path();
    options.shortTimeoutMs = 300;
    options.longTimeoutMs = 300;
    DfuUpdateDriver run(options);
    run.runDfuUpdate();
    const auto posted = ownNotes.objects(dfu_notifications::kStatus);
    EXPECT_FALSE(posted.empty());
    for (const auto& status : posted) EXPECT_EQ(status, Value(false));
    // onSuccess would follow a written 0xAB at once.
    EXPECT_FALSE(ownLog.contains("升级成功!"));
    EXPECT_FALSE(device->ran());
    EXPECT_EQ(transport->users(), 0);
  }
}

}  // namespace
}  // namespace vistrelle::device
