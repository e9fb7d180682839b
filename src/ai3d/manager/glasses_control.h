// GlassesControl: what the AI-3D manager asks of the glasses' command layer.
// The application implements it over its command layer; tests fake it.
// Every call is safe from any thread; results are the command layer's: 0
// success, -1 without glasses or for a command their generation does not
// take, another negative errno when the write failed.
#pragma once

#include <cstdint>

namespace vistrelle::ai3d {

class GlassesControl {
 public:
  virtual ~GlassesControl() = default;

  // Whether the command layer holds current glasses (a device to write to).
  virtual bool hasCurrentDevice() const = 0;
  // A fresh transport over the current glasses, then the 3D switch (which
  // also brings the glasses' screen to 3840 or 1920 wide after a while).
  virtual int32_t switchDisplay3D(bool on) = 0;
  virtual int32_t setDuty(int32_t duty) = 0;
  virtual int32_t setLightSensorWearDetection(bool close) = 0;
  virtual int32_t changeIMUWithGlass(bool isClose) = 0;
  // Moves at each plug-in and removal of the current glasses.
  virtual uint64_t connectionEpoch() const = 0;
};

}  // namespace vistrelle::ai3d
