#pragma once

#include <cstdint>
#include <optional>

namespace vistrelle::usb {

// An opened USB device.  Destroying it closes the device.
class UsbDeviceHandle {
 public:
  virtual ~UsbDeviceHandle() = default;
  UsbDeviceHandle(const UsbDeviceHandle&) = delete;
  UsbDeviceHandle& operator=(const UsbDeviceHandle&) = delete;

  // Read from the device's own descriptor; none when the read fails.
  virtual std::optional<uint16_t> vendorId() const = 0;
  virtual std::optional<uint16_t> productId() const = 0;

 protected:
  UsbDeviceHandle() = default;
};

}  // namespace vistrelle::usb
