#include "device/hid/hid_device.h"

#include <cstdio>

namespace vistrelle::device {

Value HIDDevice::notificationObject() const {
  return Value(Value::Map{{"device", Value(static_cast<unsigned long>(token))}});
}

std::string HIDDevice::description() const {
  char ids[64];
  std::snprintf(ids, sizeof ids, "vid=0x%04llx, pid=0x%04llx",
                static_cast<unsigned long long>(vendorId),
                static_cast<unsigned long long>(productId));
  return "HIDDevice(id=" + id + ", " + ids + ", name=" + name + ")";
}

}  // namespace vistrelle::device
