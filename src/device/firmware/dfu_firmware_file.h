#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "device/firmware/firmware_log.h"

namespace vistrelle::device {

// A firmware image file as carried for each glasses model (little-endian):
//   0     u32  header length H: from the start of the file to the image, at most 512
//   4     u32  version length L, at most 64
//   8     L    version text, each byte XOR 0x80
//   8+L   u32  checksum: the wrapping 32-bit sum of the image bytes
//   12+L  i32  image length N
//   16+L  ..H  not interpreted
//   H     N    the image, written from flash address 0
// A file may also be read without header: the whole file is the image and no
// checksum is checked.
class DfuFirmwareFile {
 public:
  static constexpr uint32_t kMaxHeaderLength = 512;
  static constexpr uint32_t kMaxVersionLength = 64;
  static constexpr uint32_t kFixedHeaderBytes = 16;  // H, L, checksum, N
  using Version = std::array<char, 64>;

  enum class Status {
    Ok,
    CannotOpen,   // nothing reported beyond the log
    BadFile,      // a header or length the file cannot hold
    Short,        // fewer image bytes than the header says
    BadChecksum,  // "Bin error!"
  };

  // Reads `path`, logging as the updater does.  On any failure the image is
  // empty and N is 0, so nothing half-read can be flashed; a length the file
  // cannot hold is refused before any buffer is sized from it.  What was read
  // of the header stays (the version is logged after a failure too).
  Status read(const std::string& path, bool withHeader, const FirmwareLog& log);

  uint32_t headerLength() const { return headerLength_; }
  uint32_t versionLength() const { return versionLength_; }
  // The decoded text, zero-filled: NUL-terminated only when L is below 64.
  const Version& version() const { return version_; }
  uint32_t checksum() const { return checksum_; }
  uint64_t imageLength() const { return imageLength_; }
  uint32_t sum() const { return sum_; }
  const std::vector<uint8_t>& image() const { return image_; }

  // Every byte XOR 0x80, into a zeroed 64-byte field (at most 64 bytes taken).
  static Version decodeVersion(std::span<const uint8_t> stored);
  static uint32_t byteSum(std::span<const uint8_t> bytes);
  // A file with header around `image`; `padding` extra header bytes after N.
  static std::vector<uint8_t> build(std::string_view version, std::span<const uint8_t> image,
                                    uint32_t padding = 0);

 private:
  void clearImage();

  uint32_t headerLength_ = 0;
  uint32_t versionLength_ = 0;
  Version version_{};
  uint32_t checksum_ = 0;
  uint64_t imageLength_ = 0;
  uint32_t sum_ = 0;
  std::vector<uint8_t> image_;
};

}  // namespace vistrelle::device
