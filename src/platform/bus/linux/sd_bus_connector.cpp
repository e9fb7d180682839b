#include "platform/bus/linux/sd_bus_connector.h"

#include "platform/bus/linux/sd_bus_connection.h"
#include "platform/dispatch/runtime.h"

namespace vistrelle::bus {

BusResult<std::shared_ptr<Bus>> SdBusConnector::open(BusKind kind) {
  BusResult<std::string> address = SdBusConnection::addressFor(kind);
  if (!address.ok()) return address.error();
  dispatch::Runtime& runtime = dispatch::Runtime::shared();
  auto connection =
      SdBusConnection::open(kind, address.value(), runtime.reactor(),
                            runtime.makeSerialQueue(std::string("bus.") + busKindName(kind)));
  if (!connection.ok()) return connection.error();
  std::shared_ptr<SdBusConnection> bus = std::move(connection).value();
  // Closed with the other subsystems before the runtime stops, if its owner
  // has not closed it before.
  bus->keepStop(runtime.registerStop(std::string("bus.") + busKindName(kind),
                                     [weak = std::weak_ptr<SdBusConnection>(bus)] {
                                       if (auto self = weak.lock()) self->close();
                                     }));
  return std::shared_ptr<Bus>(std::move(bus));
}

}  // namespace vistrelle::bus
