#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vistrelle::hid {

// One HID device node as the system describes it.
struct HidDeviceInfo {
  // The node ("/dev/hidraw3", or the simulated bus's name for it): the key of
  // the device while it is attached.  A removal carries only this reliably.
  std::string path;
  // The USB port path of the device ("1-2.3"); empty when it is not on USB.
  std::string portPath;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  // The device release number (bcdDevice) as the system writes it, "0100".
  std::optional<std::string> version;
  // The device's product string.
  std::optional<std::string> name;

  bool operator==(const HidDeviceInfo&) const = default;
};

}  // namespace vistrelle::hid
