#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/value/value.h"
#include "platform/usb/usb_device_handle.h"

namespace vistrelle {

// One arrival reported by the USB device monitor.  Whoever holds the record
// owns the opened device: dropping `deviceHandle` closes it.  A device that
// another client holds exclusively arrives without a handle.
struct USBDevice {
  uint64_t id = 0;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  std::string name;  // at most kMaxNameBytes bytes
  std::unique_ptr<usb::UsbDeviceHandle> deviceHandle;

  static constexpr size_t kMaxNameBytes = 127;  // a 128-byte buffer with its NUL

  // The notification form: {"id", "vendorId", "productId", "name"} and, when
  // the monitor holds a handle for the receiver to claim, "handleToken".
  Value toValue(std::optional<uint64_t> handleToken) const;
  // The record back from its notification form, without the handle; none when
  // a field is missing or out of range.
  static std::optional<USBDevice> fromValue(const Value& value);
  static std::optional<uint64_t> handleTokenOf(const Value& value);

  // `name` cut to kMaxNameBytes without splitting a UTF-8 sequence.
  static std::string truncatedName(std::string name);
};

}  // namespace vistrelle
