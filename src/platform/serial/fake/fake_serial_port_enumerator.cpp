#include "platform/serial/fake/fake_serial_port_enumerator.h"

#include "platform/serial/serial_error.h"

namespace vistrelle::serial {

std::vector<SerialPortInfo> FakeSerialPortEnumerator::enumerate() {
  std::lock_guard lock(mutex_);
  ++calls_;
  if (!failure_.empty()) throw SerialError(failure_);
  return ports_;
}

void FakeSerialPortEnumerator::setPorts(std::vector<SerialPortInfo> ports) {
  std::lock_guard lock(mutex_);
  ports_ = std::move(ports);
}

void FakeSerialPortEnumerator::fail(std::string reason) {
  std::lock_guard lock(mutex_);
  failure_ = std::move(reason);
}

int FakeSerialPortEnumerator::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

}  // namespace vistrelle::serial
