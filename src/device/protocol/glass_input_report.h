#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace vistrelle::device {

// A view of one input report from the glasses, as delivered (the bytes the
// transport handed over, which may be fewer than the report's own length
// field claims).  Fields are little-endian.  Two shapes:
//   IMU report, length field 32: first generation 4 x f32 at 28 (quaternion),
//     second generation 7 x i16 at 28 (triple B, triple A, scalar C);
//   reply or event report, length field 64: group u16@8, command u16@10,
//     payload from 12.
// Readers take byte offsets and throw std::out_of_range past the delivered
// bytes; has() tells beforehand.
class GlassInputReport {
 public:
  static constexpr uint16_t kImuLength = 32;
  static constexpr uint16_t kReplyLength = 64;

  explicit GlassInputReport(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  size_t deliveredLength() const { return bytes_.size(); }
  bool has(size_t offset, size_t width) const {
    return offset <= bytes_.size() && width <= bytes_.size() - offset;
  }

  // The length field; none when fewer than 2 bytes arrived.
  bool hasLengthField() const { return has(0, 2); }
  uint16_t lengthField() const { return u16(0); }
  uint16_t group() const { return u16(8); }
  uint16_t command() const { return u16(10); }

  uint8_t u8(size_t offset) const;
  uint16_t u16(size_t offset) const;
  int16_t i16(size_t offset) const { return static_cast<int16_t>(u16(offset)); }
  float f32(size_t offset) const;

  std::span<const uint8_t> bytes() const { return bytes_; }

 private:
  void check(size_t offset, size_t width) const;
  std::span<const uint8_t> bytes_;
};

}  // namespace vistrelle::device
