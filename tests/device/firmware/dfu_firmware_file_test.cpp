// The image file as the updater reads it (ISPLdCMD::UpdateFileInfo), with and
// without header, on files the tests write.
#include <gtest/gtest.h>

#include <cstring>

#include "device/firmware/dfu_firmware_file.h"
#include "device/firmware/firmware_test_support.h"
#include "device/firmware/isp_ld_cmd.h"
#include "platform/hid/fake/fake_hid_io_transport.h"

namespace vistrelle::device {
namespace {

using testing::LogLines;
using testing::RecordingCallback;

// A file laid out field by field, for headers the builder would never make.
struct RawFile {
  uint32_t headerLength = 0;
  uint32_t versionLength = 0;
  std::vector<uint8_t> version;
  uint32_t checksum = 0;
  int32_t imageLength = 0;
  std::vector<uint8_t> image;
  uint32_t padTo = 0;  // the header's real size when larger than its fields

  std::vector<uint8_t> bytes() const {
    std::vector<uint8_t> out(8, 0);
    IspPacket::writeU32(out, 0, headerLength);
    IspPacket::writeU32(out, 4, versionLength);
    out.insert(out.end(), version.begin(), version.end());
    out.resize(out.size() + 8, 0);
    IspPacket::writeU32(out, 8 + version.size(), checksum);
    IspPacket::writeU32(out, 12 + version.size(), static_cast<uint32_t>(imageLength));
    if (out.size() < padTo) out.resize(padTo, 0xEE);
    out.insert(out.end(), image.begin(), image.end());
    return out;
  }
};

class ImageFile : public ::testing::Test {
 protected:
  ImageFile() {
    ISPLdCMD::Options options;
    options.transport = transport;
    options.log = log.sink();
    command = std::make_unique<ISPLdCMD>(options);
    command->SetCallback(&callback);
  }

  bool read(const std::vector<uint8_t>& bytes, bool withHeader = true) {
    version.fill('#');
    return command->UpdateFileInfo(folder.write("image.bin", bytes), version, withHeader);
  }
  std::string versionText() const {
    return std::string(version.data(), strnlen(version.data(), 64));
  }

  std::shared_ptr<hid::FakeHidIoTransport> transport = std::make_shared<hid::FakeHidIoTransport>();
  testing::ScratchFolder folder;
  LogLines log;
  RecordingCallback callback;
  std::unique_ptr<ISPLdCMD> command;
  DfuFirmwareFile::Version version{};
};

TEST_F(ImageFile, HeaderedFileGivesVersionChecksumAndImage) {
  const std::vector<uint8_t> image = testing::testImage(1000);
  RawFile file;
  file.versionLength = 5;
  file.version = {0xD6, 0xB1, 0xAE, 0xB6, 0xB3};
  file.headerLength = 16 + 5;
  file.checksum = DfuFirmwareFile::byteSum(image);
  file.imageLength = 1000;
  file.image = image;
  ASSERT_TRUE(read(file.bytes()));
  EXPECT_EQ(versionText(), "V1.63");
  EXPECT_EQ(std::count(version.begin(), version.end(), '\0'), 64 - 5) << "zero-filled field";
  EXPECT_EQ(command->file().image(), image);
  EXPECT_EQ(command->file().imageLength(), 1000u);
  EXPECT_EQ(command->file().sum(), file.checksum);
  EXPECT_TRUE(callback.events().empty());
  EXPECT_EQ(log.lines(),
            (std::vector<std::string>{"\n协议总长度:21", "\nfm_len=5", "\nFile size=1000",
                                      "\ncks=" + std::to_string(file.checksum)}));
}

TEST_F(ImageFile, ExtraHeaderBytesAndAFullVersionField) {
  const std::vector<uint8_t> image = testing::testImage(300, 3);
  const std::string longVersion(64, 'W');
  // 40 bytes the reader does not interpret sit between N and the image.
  ASSERT_TRUE(read(DfuFirmwareFile::build(longVersion, image, 40)));
  EXPECT_EQ(command->file().headerLength(), 16u + 64 + 40);
  EXPECT_EQ(command->file().image(), image) << "the image starts at H";
  EXPECT_EQ(std::string(version.data(), version.size()), longVersion) << "no room for a NUL";
}

TEST_F(ImageFile, HeaderlessFileIsAllImageAndUnchecked) {
  const std::vector<uint8_t> bytes = testing::testImage(777, 9);
  ASSERT_TRUE(read(bytes, false));
  EXPECT_EQ(command->file().image(), bytes);
  EXPECT_EQ(command->file().imageLength(), 777u);
  EXPECT_EQ(command->file().sum(), DfuFirmwareFile::byteSum(bytes));
  EXPECT_FALSE(log.contains("\ncks=" + std::to_string(DfuFirmwareFile::byteSum(bytes))));
  EXPECT_EQ(versionText(), "");
}

// Files the reader refuses: -1 through the callback, and no image buffer
// sized from a length the file cannot back.
TEST_F(ImageFile, BadFilesAreRefusedBeforeAnythingIsAllocated) {
  const std::vector<uint8_t> image = testing::testImage(64);
  const uint32_t sum = DfuFirmwareFile::byteSum(image);
  struct Case {
    const char* name;
    RawFile file;
    const char* line;  // a line the refusal logs
  };
  const std::vector<Case> cases = {
      {"H shorter than 16 + L", {20, 5, {1, 2, 3, 4, 5}, sum, 64, image}, nullptr},
      {"H below the fixed fields", {12, 0, {}, sum, 64, image}, nullptr},
      {"H above 512", {513, 5, {1, 2, 3, 4, 5}, sum, 64, image, 513}, nullptr},
      {"L above 64", {16 + 65, 65, std::vector<uint8_t>(65, 0xC1), sum, 64, image}, nullptr},
      {"N negative", {16, 0, {}, sum, -5, image}, nullptr},
      {"N beyond the file", {16, 0, {}, sum, 0x7FFFFFFF, image}, "ERROR: only 64 could be read\n"},
      {"truncated image", {16, 0, {}, sum, 65, image}, "ERROR: only 64 could be read\n"},
      {"header beyond the file", {400, 0, {}, sum, 0, {}}, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingCallback fresh;
    command->SetCallback(&fresh);
    EXPECT_FALSE(read(c.file.bytes()));
    EXPECT_EQ(fresh.events(), (std::vector<std::string>{"fail -1"}));
    EXPECT_EQ(command->file().image().capacity(), 0u);
    EXPECT_EQ(command->file().imageLength(), 0u);
    if (c.line) {
      EXPECT_TRUE(log.contains(c.line));
    }
  }
}

TEST_F(ImageFile, OneChangedByteIsABinError) {
  const std::vector<uint8_t> image = testing::testImage(500);
  std::vector<uint8_t> file = DfuFirmwareFile::build("V1.63", image);
  file.back() ^= 0x01;
  EXPECT_FALSE(read(file));
  EXPECT_TRUE(log.contains("Bin error!"));
  EXPECT_EQ(callback.events(), (std::vector<std::string>{"fail -1"}));
  // Nothing half-read stays behind for the flasher.
  EXPECT_EQ(command->file().imageLength(), 0u);
  EXPECT_TRUE(command->file().image().empty());
}

TEST_F(ImageFile, MissingFileIsLoggedOnly) {
  version.fill('#');
  const std::string path = folder.path() + "/none.bin";
  EXPECT_FALSE(command->UpdateFileInfo(path, version, true));
  EXPECT_TRUE(log.contains("\nCan't open " + path));
  EXPECT_TRUE(callback.events().empty());
}

TEST(DfuFirmwareFileBuild, WritesTheLayoutFieldByField) {
  const std::vector<uint8_t> image{1, 2, 250};
  const std::vector<uint8_t> file = DfuFirmwareFile::build("V1.9", image, 2);
  const std::vector<uint8_t> expected{22, 0, 0, 0, 4, 0, 0, 0, 0xD6, 0xB1, 0xAE, 0xB9, 253,
                                      0,  0, 0, 3, 0, 0, 0, 0, 0,    1,    2,    250};
  EXPECT_EQ(file, expected);
}

}  // namespace
}  // namespace vistrelle::device
