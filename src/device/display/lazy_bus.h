#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/bus/bus.h"
#include "platform/bus/bus_connector.h"

namespace vistrelle::device {

// A bus connection opened at its first use and again after it was lost, for
// callers that ask the bus now and then and do without it when there is none.
class LazyBus {
 public:
  // `connector` null: the process' buses (sd-bus), once the runtime is installed.
  LazyBus(std::shared_ptr<bus::BusConnector> connector, bus::BusKind kind);

  // The open connection, or null with the reason.
  std::shared_ptr<bus::Bus> get(std::string* reason);

 private:
  const bus::BusKind kind_;
  std::mutex mutex_;
  std::shared_ptr<bus::BusConnector> connector_;
  std::shared_ptr<bus::Bus> bus_;
};

}  // namespace vistrelle::device
