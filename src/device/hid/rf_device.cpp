#include "device/hid/rf_device.h"

#include <cerrno>

namespace vistrelle::device {

int32_t RFDevice::write(std::span<const uint8_t> buffer, uint8_t reportID) const {
  if (!deviceInfo_.device) return -ENODEV;
  return deviceInfo_.device->write(reportID, buffer);
}

}  // namespace vistrelle::device
