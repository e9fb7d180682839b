#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vistrelle::serial {

// One serial port and, when it sits on a USB device, that device's strings
// and ids.
struct SerialPortInfo {
  std::string path;  // the device node, e.g. "/dev/ttyUSB0"
  std::optional<std::string> name;
  std::optional<std::string> vendorName;
  std::optional<std::string> serialNumber;
  std::optional<int64_t> vendorId;
  std::optional<int64_t> productId;
};

}  // namespace vistrelle::serial
