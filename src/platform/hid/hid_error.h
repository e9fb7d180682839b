#pragma once

#include <stdexcept>
#include <string>

namespace vistrelle::hid {

// The HID service could not be reached; what() gives the reason.
class HidError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace vistrelle::hid
