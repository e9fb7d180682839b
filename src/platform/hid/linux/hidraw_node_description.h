#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/hid/hid_device_info.h"

namespace vistrelle::hid {

// What udev tells about one hidraw node, as texts, gathered before they are
// read: the node, its USB device's sysfs name and attributes, and the HID_ID
// property of its HID parent.  Any of them may be missing (a removal has only
// the node; a Bluetooth device has no USB parent).
struct HidrawNodeAttributes {
  std::optional<std::string> devnode;
  std::optional<std::string> usbSysname;  // "1-2.3"
  std::optional<std::string> idVendor;    // "0483", as sysfs writes it
  std::optional<std::string> idProduct;
  std::optional<std::string> bcdDevice;
  std::optional<std::string> product;
  std::optional<std::string> hidId;  // "0003:00000483:00005750"
};

// The device a node belongs to: ids from the USB attributes, else from HID_ID;
// texts trimmed of the newline sysfs may leave.
HidDeviceInfo describeHidrawNode(const HidrawNodeAttributes& attributes);

// "vvvv" of four hexadecimal digits at most, whole; none otherwise.
std::optional<uint16_t> parseHexId(const std::string& text);
// HID_ID "bus:vendor:product" with 32-bit hexadecimal ids; false when malformed.
bool parseHidId(const std::string& text, uint16_t& vendorId, uint16_t& productId);

}  // namespace vistrelle::hid
