#include "device/firmware/dfu_firmware_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <memory>

#include "device/firmware/isp_packet.h"

namespace vistrelle::device {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The bytes from the current position to the end; 0 when the file has no
// size (a pipe).
uint64_t bytesLeft(std::FILE* file) {
  struct stat info {};
  if (::fstat(fileno(file), &info) != 0 || info.st_size <= 0) return 0;
  const long at = std::ftell(file);
  if (at < 0 || static_cast<uint64_t>(at) >= static_cast<uint64_t>(info.st_size)) return 0;
  return static_cast<uint64_t>(info.st_size) - static_cast<uint64_t>(at);
}

}  // namespace

void DfuFirmwareFile::clearImage() {
  imageLength_ = 0;
  sum_ = 0;
  image_.clear();
  image_.shrink_to_fit();
}

DfuFirmwareFile::Status DfuFirmwareFile::read(const std::string& path, bool withHeader,
                                              const FirmwareLog& log) {
  headerLength_ = 0;
  versionLength_ = 0;
  version_.fill(0);
  checksum_ = 0;
  clearImage();
  File file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    log(formatText("\nCan't open %s", path.c_str()));
    return Status::CannotOpen;
  }
  uint32_t expected = 0;
  int64_t length = 0;
  if (withHeader) {
    std::array<uint8_t, kMaxHeaderLength> header{};
    if (std::fread(header.data(), 1, 4, file.get()) != 4) {
      log("\nBad file: no header");
      return Status::BadFile;
    }
    const uint32_t total = IspPacket::readU32(header, 0);
    log(formatText("\n协议总长度:%d", static_cast<int>(total)));
    if (total > kMaxHeaderLength || total < kFixedHeaderBytes) {
      log(formatText("\nBad file: header length %u", total));
      return Status::BadFile;
    }
    std::rewind(file.get());
    if (std::fread(header.data(), 1, total, file.get()) != total) {
      log(formatText("\nBad file: header length %u beyond the file", total));
      return Status::BadFile;
    }
    const uint32_t versionLength = IspPacket::readU32(header, 4);
    log(formatText("\nfm_len=%d", static_cast<int>(versionLength)));
    // The header must hold the version and the two fields after it.
    if (versionLength > kMaxVersionLength || kFixedHeaderBytes + versionLength > total) {
      log(formatText("\nBad file: version length %u in a header of %u", versionLength, total));
      return Status::BadFile;
    }
    headerLength_ = total;
    versionLength_ = versionLength;
    version_ = decodeVersion(std::span<const uint8_t>(header).subspan(8, versionLength));
    expected = IspPacket::readU32(header, 8 + versionLength);
    checksum_ = expected;
    length = static_cast<int32_t>(IspPacket::readU32(header, 12 + versionLength));
    if (length < 0) {
      log(formatText("\nBad file: image length %lld", static_cast<long long>(length)));
      return Status::BadFile;
    }
    // The file position is H, where the image begins.
    const uint64_t left = bytesLeft(file.get());
    if (static_cast<uint64_t>(length) > left) {
      log(formatText("ERROR: only %i could be read\n", static_cast<int>(left)));
      return Status::Short;
    }
  } else {
    const uint64_t size = bytesLeft(file.get());
    if (size > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
      log(formatText("\nBad file: %llu bytes", static_cast<unsigned long long>(size)));
      return Status::BadFile;
    }
    length = static_cast<int64_t>(size);
    std::rewind(file.get());
  }

  log(formatText("\nFile size=%d", static_cast<int>(length)));
  image_.resize(static_cast<size_t>(length));
  const size_t got = std::fread(image_.data(), 1, image_.size(), file.get());
  if (got < image_.size()) {
    log(formatText("ERROR: only %i could be read\n", static_cast<int>(got)));
    clearImage();
    return Status::Short;
  }
  const uint32_t sum = byteSum(image_);
  if (withHeader) {
    log(formatText("\ncks=%d", static_cast<int>(sum)));
    if (sum != expected) {
      log("Bin error!");
      clearImage();
      return Status::BadChecksum;
    }
  }
  imageLength_ = static_cast<uint64_t>(length);
  sum_ = sum;
  return Status::Ok;
}

DfuFirmwareFile::Version DfuFirmwareFile::decodeVersion(std::span<const uint8_t> stored) {
  Version text{};
  const size_t n = std::min(stored.size(), text.size());
  for (size_t i = 0; i < n; ++i) text[i] = static_cast<char>(stored[i] ^ 0x80);
  return text;
}

uint32_t DfuFirmwareFile::byteSum(std::span<const uint8_t> bytes) {
  uint32_t sum = 0;
  for (const uint8_t byte : bytes) sum += byte;
  return sum;
}

std::vector<uint8_t> DfuFirmwareFile::build(std::string_view version,
                                            std::span<const uint8_t> image, uint32_t padding) {
  const auto versionLength = static_cast<uint32_t>(std::min<size_t>(version.size(), 64));
  const uint32_t headerLength = kFixedHeaderBytes + versionLength + padding;
  std::vector<uint8_t> file(headerLength + image.size(), 0);
  IspPacket::writeU32(file, 0, headerLength);
  IspPacket::writeU32(file, 4, versionLength);
  for (uint32_t i = 0; i < versionLength; ++i) {
    file[8 + i] = static_cast<uint8_t>(static_cast<uint8_t>(version[i]) ^ 0x80);
  }
  IspPacket::writeU32(file, 8 + versionLength, byteSum(image));
  IspPacket::writeU32(file, 12 + versionLength, static_cast<uint32_t>(image.size()));
  std::copy(image.begin(), image.end(), file.begin() + headerLength);
  return file;
}

}  // namespace vistrelle::device
