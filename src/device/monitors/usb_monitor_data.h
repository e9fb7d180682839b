#pragma once

#include <cstdint>

namespace vistrelle {

// A vendor id and product id pair that the USB device monitor watches.
struct USBMonitorData {
  uint16_t vendorId = 0;
  uint16_t productId = 0;

  bool operator==(const USBMonitorData&) const = default;
};

}  // namespace vistrelle
