#pragma once

#include <stdexcept>
#include <string>

namespace vistrelle::usb {

// The USB service could not be reached; what() gives the reason.
class UsbError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace vistrelle::usb
