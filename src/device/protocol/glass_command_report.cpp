#include "device/protocol/glass_command_report.h"

#include <algorithm>
#include <bit>
#include <stdexcept>
#include <string>

namespace vistrelle::device {

GlassCommandReport GlassCommandReport::fromBytes(std::span<const uint8_t> bytes) {
  GlassCommandReport report;
  std::copy_n(bytes.begin(), std::min(bytes.size(), kSize), report.bytes_.begin());
  return report;
}

void GlassCommandReport::begin(uint16_t group, uint16_t command) {
  bytes_.fill(0);
  setU16(0, static_cast<uint16_t>(kSize));
  setU16(kGroupOffset, group);
  setU16(kCommandOffset, command);
}

void GlassCommandReport::check(size_t offset, size_t width) {
  if (offset > kSize || width > kSize - offset) {
    throw std::out_of_range("command report field at byte " + std::to_string(offset) +
                            " is past the 64-byte report");
  }
}

uint8_t GlassCommandReport::u8(size_t offset) const {
  check(offset, 1);
  return bytes_[offset];
}

uint16_t GlassCommandReport::u16(size_t offset) const {
  check(offset, 2);
  return static_cast<uint16_t>(bytes_[offset] | (bytes_[offset + 1] << 8));
}

float GlassCommandReport::f32(size_t offset) const {
  check(offset, 4);
  const uint32_t bits = uint32_t{bytes_[offset]} | (uint32_t{bytes_[offset + 1]} << 8) |
                        (uint32_t{bytes_[offset + 2]} << 16) | (uint32_t{bytes_[offset + 3]} << 24);
  return std::bit_cast<float>(bits);
}

void GlassCommandReport::setU8(size_t offset, uint8_t value) {
  check(offset, 1);
  bytes_[offset] = value;
}

void GlassCommandReport::setU16(size_t offset, uint16_t value) {
  check(offset, 2);
  bytes_[offset] = static_cast<uint8_t>(value & 0xFF);
  bytes_[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void GlassCommandReport::setF32(size_t offset, float value) {
  check(offset, 4);
  const auto bits = std::bit_cast<uint32_t>(value);
  for (size_t i = 0; i < 4; ++i) {
    bytes_[offset + i] = static_cast<uint8_t>(bits >> (8 * i));
  }
}

}  // namespace vistrelle::device
