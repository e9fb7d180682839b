#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/hid/hid_connection.h"
#include "platform/value/value.h"

namespace vistrelle::device {

// One attached HID device as the HID monitor reports it.  Copies share the
// opened node.
struct HIDDevice {
  std::string id;  // the USB port path, "1-2.3"; empty when unknown
  int64_t vendorId = 0;
  int64_t productId = 0;
  // The largest input report its descriptor declares (0 when none).
  int64_t reportSize = 0;
  // The opened node (none in a record built by hand).
  std::shared_ptr<hid::HidConnection> device;
  std::string name;  // the USB product string; empty when absent

  // The device release number (bcdDevice) as the system writes it.
  std::optional<std::string> versionNumber;
  // Never reused within the process: the object of the monitor's
  // "HIDDeviceConnected" and "HIDDeviceDisconnected" notifications, and what
  // tells two arrivals of the same glasses apart.
  uint64_t token = 0;
  // The glasses generation the device got when it arrived; its reports are
  // parsed with it.
  int32_t generation = 1;

  bool isSameDevice(const HIDDevice& other) const { return token == other.token; }
  // The notification object: {"device": token}.
  Value notificationObject() const;
  // "HIDDevice(id=1-2.3, vid=0x0483, pid=0x8003, name=...)", for console lines.
  std::string description() const;
};

}  // namespace vistrelle::device
