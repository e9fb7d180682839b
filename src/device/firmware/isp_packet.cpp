#include "device/firmware/isp_packet.h"

#include <algorithm>

namespace vistrelle::device {

IspPacket::IspPacket(uint32_t command, uint32_t number, std::span<const uint8_t> data) {
  writeU32(bytes_, 1, command);
  writeU32(bytes_, 5, number);
  const size_t n = std::min(data.size(), kMaxData);
  std::copy_n(data.begin(), n, bytes_.begin() + 9);
}

uint16_t IspPacket::checksum() const {
  uint32_t sum = 0;
  for (const uint8_t byte : bytes_) sum += byte;
  return static_cast<uint16_t>(sum);
}

bool IspPacket::replyMatches(std::span<const uint8_t> reply, uint16_t checksum,
                             std::optional<uint32_t> number) {
  if (reply.size() < kReplySize) return false;
  const uint16_t answered = static_cast<uint16_t>(reply[0] | (reply[1] << 8));
  if (answered != checksum) return false;
  return !number || readU32(reply, 4) == *number;
}

size_t IspPacket::replyData(std::span<const uint8_t> reply, std::span<uint8_t> out) {
  if (reply.size() <= kReplyDataOffset) return 0;
  const size_t n = std::min({out.size(), kMaxReplyData, reply.size() - kReplyDataOffset});
  std::copy_n(reply.begin() + kReplyDataOffset, n, out.begin());
  return n;
}

uint32_t IspPacket::readU32(std::span<const uint8_t> bytes, size_t offset) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) value |= uint32_t{bytes[offset + i]} << (8 * i);
  return value;
}

void IspPacket::writeU32(std::span<uint8_t> bytes, size_t offset, uint32_t value) {
  for (size_t i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace vistrelle::device
