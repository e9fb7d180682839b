#pragma once

#include <stdexcept>

namespace vistrelle::serial {

// The serial ports could not be listed; what() gives the reason.
class SerialError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace vistrelle::serial
