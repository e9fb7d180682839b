#pragma once

#include "app/calibration/temperature_drift_commands.h"
#include "device/hid/orvex_qx_server.h"

namespace vistrelle {

// The temperature-drift commands of the application's command layer, which
// must outlive this object.
class QXServerTemperatureDriftCommands final : public TemperatureDriftCommands {
 public:
  explicit QXServerTemperatureDriftCommands(device::OrvexQXServer& server) : server_(server) {}

  int32_t glassGeneration() const override;
  uint64_t connectionEpoch() const override;
  int32_t setUserImuTempBias(int32_t index, float temperature, float x, float y, float z) override;
  void getFactoryImuTempBias(uint32_t index, int32_t kind) override;

 private:
  device::OrvexQXServer& server_;
};

}  // namespace vistrelle
