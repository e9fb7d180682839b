#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vistrelle::sim {

// What a device on the simulated bus announces about itself.
struct SimHidIdentity {
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  std::string name;                 // the USB product string
  std::string version = "0100";     // bcdDevice as sysfs writes it
  std::string portPath;             // "sim-1"; the bus picks one when empty
  std::vector<uint8_t> descriptor;  // the report descriptor
};

}  // namespace vistrelle::sim
