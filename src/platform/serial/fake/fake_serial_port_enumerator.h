#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/serial/serial_port_enumerator.h"

namespace vistrelle::serial {

// Answers the ports it was given; can be told to fail.
class FakeSerialPortEnumerator : public SerialPortEnumerator {
 public:
  std::vector<SerialPortInfo> enumerate() override;

  void setPorts(std::vector<SerialPortInfo> ports);
  // While `reason` is not empty, enumerate() throws SerialError with it.
  void fail(std::string reason);
  int calls() const;

 private:
  mutable std::mutex mutex_;
  std::vector<SerialPortInfo> ports_;
  std::string failure_;
  int calls_ = 0;
};

}  // namespace vistrelle::serial
