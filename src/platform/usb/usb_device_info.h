#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vistrelle::usb {

// One USB device as the plug events and the enumeration describe it, before
// it is opened.  On a removal the device's attributes are already gone, so the
// ids then come from the event itself and may be missing.
struct UsbDeviceInfo {
  // Stable for one attachment: the same on the arrival and on the removal.
  uint64_t id = 0;
  std::string sysPath;
  std::optional<uint16_t> vendorId;
  std::optional<uint16_t> productId;
  std::string name;
  uint8_t busNumber = 0;
  uint8_t deviceAddress = 0;
};

// The id of a device on `busNumber` at `deviceAddress`: addresses are handed
// out afresh on every attachment, so the id tells attachments apart.
constexpr uint64_t makeUsbDeviceId(uint8_t busNumber, uint8_t deviceAddress) {
  return (uint64_t{busNumber} << 8) | deviceAddress;
}

}  // namespace vistrelle::usb
