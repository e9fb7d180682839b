#pragma once

#include <cstdint>

namespace vistrelle {

// What the temperature-drift calibration needs from the glasses command
// layer.  Called on the main queue.
class TemperatureDriftCommands {
 public:
  virtual ~TemperatureDriftCommands() = default;
  // The generation of the current (or last) glasses.
  virtual int32_t glassGeneration() const = 0;
  // Moves at each plug-in and removal of the current glasses.
  virtual uint64_t connectionEpoch() const = 0;
  // Writes user record `index` (0-5); 0 on success, negative when nothing
  // was written or the write failed.
  virtual int32_t setUserImuTempBias(int32_t index, float temperature, float x, float y,
                                     float z) = 0;
  // Asks for one record (kind 1 factory, else user); the reply arrives
  // through the report parser.  Nothing is sent without second-generation
  // glasses.
  virtual void getFactoryImuTempBias(uint32_t index, int32_t kind) = 0;
};

}  // namespace vistrelle
