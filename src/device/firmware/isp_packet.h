#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace vistrelle::device {

// The boot loader's command values (Nuvoton ISP over HID).
namespace isp_command {
inline constexpr uint32_t kUpdateAprom = 0xA0;  // first image packet
inline constexpr uint32_t kUpdateConfig = 0xA1;
inline constexpr uint32_t kReadConfig = 0xA2;
inline constexpr uint32_t kSyncPacketNumber = 0xA4;
inline constexpr uint32_t kGetVersion = 0xA6;
inline constexpr uint32_t kRunAprom = 0xAB;
inline constexpr uint32_t kGetDeviceId = 0xB1;
inline constexpr uint32_t kContinue = 0x00;  // every later image packet
inline constexpr uint32_t kResendPacket = 0xFF;
}  // namespace isp_command

// One request to the boot loader as handed to the HID layer: report ID 0,
// then the 64-byte packet (u32 command, u32 packet number, up to 56 data
// bytes, the rest zero; little-endian).  Its checksum is not sent: the boot
// loader answers with it, and that is how a reply is matched to its request.
//
// A reply is 64 bytes without report ID: the checksum (u16) at 0, the packet
// number + 1 (u32) at 4, data from byte 9.
class IspPacket {
 public:
  static constexpr size_t kSize = 65;
  static constexpr size_t kMaxData = 56;
  static constexpr size_t kReplySize = 64;
  static constexpr size_t kReplyDataOffset = 9;
  static constexpr size_t kMaxReplyData = kReplySize - kReplyDataOffset;  // 55

  // How long a reply is waited for.
  static constexpr int kShortTimeoutMs = 5'000;
  static constexpr int kLongTimeoutMs = 25'000;

  // The flash the image goes to: the application flash (APROM) from address 0.
  static constexpr uint32_t kApromStart = 0;
  static constexpr uint32_t kApromSize = 0x78000;
  // The first image packet carries the start address and total length before
  // its image bytes.
  static constexpr size_t kFirstImageBytes = kMaxData - 8;  // 48

  IspPacket() = default;
  // Data beyond 56 bytes is cut.
  IspPacket(uint32_t command, uint32_t number, std::span<const uint8_t> data = {});

  uint32_t command() const { return u32(1); }
  uint32_t number() const { return u32(5); }
  // The sum of all 65 bytes, cut to 16 bits.
  uint16_t checksum() const;

  std::span<const uint8_t, kSize> bytes() const { return bytes_; }

  // The reply to a request with `checksum`: 64 bytes, the checksum at 0, and
  // (when `number` is given) that number at 4.
  static bool replyMatches(std::span<const uint8_t> reply, uint16_t checksum,
                           std::optional<uint32_t> number);
  // Copies min(out.size(), 55) reply data bytes from byte 9; the count.
  static size_t replyData(std::span<const uint8_t> reply, std::span<uint8_t> out);

  static uint32_t readU32(std::span<const uint8_t> bytes, size_t offset);
  static void writeU32(std::span<uint8_t> bytes, size_t offset, uint32_t value);

 private:
  uint32_t u32(size_t offset) const { return readU32(bytes_, offset); }

  std::array<uint8_t, kSize> bytes_{};
};

}  // namespace vistrelle::device
