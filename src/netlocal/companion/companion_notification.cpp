#include "netlocal/companion/companion_notification.h"

#include "platform/bus/linux/sd_bus_connector.h"

namespace vistrelle::netlocal {

OrvexLocalServer::NotificationEmitter CompanionNotification::busEmitter(
    std::shared_ptr<bus::BusConnector> connector) {
  if (!connector) connector = std::make_shared<bus::SdBusConnector>();
  return [connector](const std::string& json, const OrvexLocalServer::LogSink& log) {
    bus::BusResult<std::shared_ptr<bus::Bus>> opened = connector->open(bus::BusKind::Session);
    if (!opened) {
      log("通知未发送: " + opened.error().describe());
      return;
    }
    const std::shared_ptr<bus::Bus>& session = opened.value();
    const bus::BusResult<void> emitted =
        session->emitSignal(bus::BusSignal{kPath, kInterface, kMember, {bus::BusValue(json)}});
    if (!emitted) log("通知未发送: " + emitted.error().describe());
    session->close();
  };
}

}  // namespace vistrelle::netlocal
