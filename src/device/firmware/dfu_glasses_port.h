#pragma once

#include <cstdint>
#include <optional>

namespace vistrelle::device {

// The vendor and product id of a device.
struct DfuDeviceIds {
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  bool operator==(const DfuDeviceIds&) const = default;
};

// What the update window needs of the glasses command layer.
class DfuGlassesPort {
 public:
  virtual ~DfuGlassesPort() = default;
  // The command layer's connected device, if it has one.
  virtual std::optional<DfuDeviceIds> connectedDevice() = 0;
  // Switches the glasses into their boot loader: 0, or the command's failure.
  virtual int32_t enterDfu() = 0;
};

}  // namespace vistrelle::device
