#include "device/firmware/qx_server_dfu_port.h"

namespace vistrelle::device {

std::optional<DfuDeviceIds> QxServerDfuPort::connectedDevice() {
  OrvexQXServer* server = server_ ? server_() : nullptr;
  if (server == nullptr) return std::nullopt;
  const std::shared_ptr<RFDevice> device = server->connectedDevice();
  if (!device) return std::nullopt;
  return DfuDeviceIds{static_cast<uint16_t>(device->deviceInfo().vendorId),
                      static_cast<uint16_t>(device->deviceInfo().productId)};
}

int32_t QxServerDfuPort::enterDfu() {
  OrvexQXServer* server = server_ ? server_() : nullptr;
  return server != nullptr ? server->enterDfu() : -1;
}

}  // namespace vistrelle::device
