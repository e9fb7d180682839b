#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/value/value.h"
#include "platform/serial/serial_port_info.h"

namespace vistrelle {

// A serial port reported by the serial device monitor.  Two records are the
// same port, and hash alike, when their paths are equal, whatever else they
// hold.
struct SerialDevice {
  std::string path;
  std::optional<std::string> name;
  std::optional<std::string> vendorName;
  std::optional<std::string> serialNumber;
  std::optional<int64_t> vendorId;
  std::optional<int64_t> productId;

  bool operator==(const SerialDevice& other) const { return path == other.path; }

  // Every field, for callers that need to tell two records of one port apart.
  bool sameFields(const SerialDevice& other) const;

  static SerialDevice from(const serial::SerialPortInfo& port);
  // {"path"} plus each field that is set, under its own name.
  Value toValue() const;
  static std::optional<SerialDevice> fromValue(const Value& value);
};

}  // namespace vistrelle

template <>
struct std::hash<vistrelle::SerialDevice> {
  size_t operator()(const vistrelle::SerialDevice& device) const noexcept {
    return std::hash<std::string>{}(device.path);
  }
};
