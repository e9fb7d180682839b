#include "app/calibration/qx_server_temperature_drift_commands.h"

namespace vistrelle {

int32_t QXServerTemperatureDriftCommands::glassGeneration() const {
  return server_.glassGeneration();
}

uint64_t QXServerTemperatureDriftCommands::connectionEpoch() const {
  return server_.connectionEpoch();
}

int32_t QXServerTemperatureDriftCommands::setUserImuTempBias(int32_t index, float temperature,
                                                             float x, float y, float z) {
  return server_.setUserImuTempBias(index, temperature, x, y, z);
}

void QXServerTemperatureDriftCommands::getFactoryImuTempBias(uint32_t index, int32_t kind) {
  server_.getFactoryImuTempBias(index, kind);
}

}  // namespace vistrelle
