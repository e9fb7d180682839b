#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include "platform/serial/serial_port_enumerator.h"

namespace vistrelle::serial {

// The `tty` devices of libudev that sit on real hardware.  Virtual consoles
// and ptys have no parent device and are left out, and so are the ttyS ports
// that the 8250 driver registers for UARTs that are not there (their port
// type is PORT_UNKNOWN).  USB strings and ids come from the parent
// `usb_device`'s sysfs attributes, which exist even where the udev database
// does not (containers).
class UdevSerialPortEnumerator : public SerialPortEnumerator {
 public:
  std::vector<SerialPortInfo> enumerate() override;

  static std::shared_ptr<SerialPortEnumerator> create();

  // A sysfs id such as "0403" or "0403\n", read as hexadecimal; none unless
  // it is 1 to 4 hex digits.
  static std::optional<int64_t> parseHexId(std::string_view text);
};

}  // namespace vistrelle::serial
