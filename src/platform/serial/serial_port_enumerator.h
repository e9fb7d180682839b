#pragma once

#include <vector>

#include "platform/serial/serial_port_info.h"

namespace vistrelle::serial {

// Lists the serial ports attached now.
class SerialPortEnumerator {
 public:
  virtual ~SerialPortEnumerator() = default;

  // Throws SerialError with the reason when the system cannot be asked.
  virtual std::vector<SerialPortInfo> enumerate() = 0;
};

}  // namespace vistrelle::serial
