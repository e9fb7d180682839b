#include "device/protocol/glass_input_report.h"

#include <bit>
#include <stdexcept>
#include <string>

namespace vistrelle::device {

void GlassInputReport::check(size_t offset, size_t width) const {
  if (!has(offset, width)) {
    throw std::out_of_range("input report field at byte " + std::to_string(offset) +
                            " is past the " + std::to_string(bytes_.size()) + " delivered bytes");
  }
}

uint8_t GlassInputReport::u8(size_t offset) const {
  check(offset, 1);
  return bytes_[offset];
}

uint16_t GlassInputReport::u16(size_t offset) const {
  check(offset, 2);
  return static_cast<uint16_t>(bytes_[offset] | (bytes_[offset + 1] << 8));
}

float GlassInputReport::f32(size_t offset) const {
  check(offset, 4);
  const uint32_t bits = uint32_t{bytes_[offset]} | (uint32_t{bytes_[offset + 1]} << 8) |
                        (uint32_t{bytes_[offset + 2]} << 16) | (uint32_t{bytes_[offset + 3]} << 24);
  return std::bit_cast<float>(bits);
}

}  // namespace vistrelle::device
