#pragma once

#include <functional>

#include "device/firmware/dfu_glasses_port.h"
#include "device/hid/orvex_qx_server.h"

namespace vistrelle::device {

// The update window's view of the glasses command layer.  The layer is
// reached through `server`, which may answer null until the application has
// made it: then there is no connected device, and entering the boot loader
// fails as it does without glasses.
class QxServerDfuPort : public DfuGlassesPort {
 public:
  explicit QxServerDfuPort(std::function<OrvexQXServer*()> server) : server_(std::move(server)) {}

  std::optional<DfuDeviceIds> connectedDevice() override;
  int32_t enterDfu() override;

 private:
  std::function<OrvexQXServer*()> server_;
};

}  // namespace vistrelle::device
