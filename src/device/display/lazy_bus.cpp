#include "device/display/lazy_bus.h"

#include "platform/bus/linux/sd_bus_connector.h"
#include "platform/dispatch/runtime.h"

namespace vistrelle::device {

LazyBus::LazyBus(std::shared_ptr<bus::BusConnector> connector, bus::BusKind kind)
    : kind_(kind), connector_(std::move(connector)) {}

std::shared_ptr<bus::Bus> LazyBus::get(std::string* reason) {
  std::lock_guard lock(mutex_);
  if (bus_ && bus_->isOpen()) return bus_;
  bus_.reset();
  if (!connector_) {
    // sd-bus connections live on the runtime's reactor.
    if (!dispatch::Runtime::installed()) {
      *reason = std::string("no ") + bus::busKindName(kind_) + " bus before the runtime starts";
      return nullptr;
    }
    connector_ = std::make_shared<bus::SdBusConnector>();
  }
  auto opened = connector_->open(kind_);
  if (!opened) {
    *reason = opened.error().describe();
    return nullptr;
  }
  bus_ = opened.value();
  return bus_;
}

}  // namespace vistrelle::device
