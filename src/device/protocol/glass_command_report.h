#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace vistrelle::device {

// The 64-byte HID output report that carries every command to the glasses.
// All multi-byte fields are little-endian:
//   0-1   length, always 64
//   2-7   reserved, 0
//   8-9   command group
//   10-11 command within the group
//   12-55 parameters (per command; unset bytes are 0)
//   56-63 tail, 0
// It travels as an Output report with report ID 2; the ID is not part of the
// 64 bytes.
class GlassCommandReport {
 public:
  static constexpr size_t kSize = 64;
  static constexpr uint8_t kReportId = 2;
  static constexpr size_t kGroupOffset = 8;
  static constexpr size_t kCommandOffset = 10;
  static constexpr size_t kParametersBegin = 12;
  static constexpr size_t kParametersEnd = 56;

  GlassCommandReport() = default;
  // A copy of the first 64 bytes of `bytes` (missing bytes read as 0), for
  // decoding a report that arrived from somewhere else.
  static GlassCommandReport fromBytes(std::span<const uint8_t> bytes);

  // Zeroes all 64 bytes and writes the header: length 64, group, command.
  void begin(uint16_t group, uint16_t command);

  uint16_t length() const { return u16(0); }
  uint16_t group() const { return u16(kGroupOffset); }
  uint16_t command() const { return u16(kCommandOffset); }

  // Field access by byte offset; an access past byte 63 throws
  // std::out_of_range.
  uint8_t u8(size_t offset) const;
  uint16_t u16(size_t offset) const;
  float f32(size_t offset) const;
  void setU8(size_t offset, uint8_t value);
  void setU16(size_t offset, uint16_t value);
  void setF32(size_t offset, float value);

  std::span<const uint8_t, kSize> bytes() const { return bytes_; }
  std::span<uint8_t, kSize> mutableBytes() { return bytes_; }

  bool operator==(const GlassCommandReport&) const = default;

 private:
  static void check(size_t offset, size_t width);
  std::array<uint8_t, kSize> bytes_{};
};

}  // namespace vistrelle::device
