#pragma once

#include <cstdint>

namespace vistrelle {

// The bmRequestType byte of a USB control request: direction in bit 7 (1 is
// device to host), type in bits 6-5 (standard, class, vendor), recipient in
// bits 4-0 (device, interface, endpoint, other).  Out-of-range values are cut to
// their fields.
constexpr uint8_t makeRequestType(unsigned direction, unsigned type, unsigned recipient) {
  return static_cast<uint8_t>(((direction & 1u) << 7) | ((type & 3u) << 5) | (recipient & 31u));
}

}  // namespace vistrelle
