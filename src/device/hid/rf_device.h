#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "device/hid/hid_device.h"

namespace vistrelle::device {

// The transport over one attached HID device: writes command reports to it.
class RFDevice {
 public:
  explicit RFDevice(HIDDevice deviceInfo) : deviceInfo_(std::move(deviceInfo)) {}

  const HIDDevice& deviceInfo() const { return deviceInfo_; }

  // Sends `buffer` as output report `reportID`: the report's declared output
  // size (64 when the descriptor declares none), taken from the buffer and
  // padded with zeros past its end.  0, or a negative errno: -ENODEV once the
  // device went away or when the record has no opened node.
  int32_t write(std::span<const uint8_t> buffer, uint8_t reportID) const;

  std::string description() const { return deviceInfo_.description(); }

 private:
  HIDDevice deviceInfo_;
};

}  // namespace vistrelle::device
