#pragma once

namespace vistrelle {

// The built-in panel's brightness, 0..1.  Both calls may take a round trip
// to a system service: the dimmer calls them off the main thread, except at
// exit.
class BrightnessPort {
 public:
  virtual ~BrightnessPort() = default;
  virtual float builtinDisplayBrightness() = 0;
  virtual void setBuiltinDisplayBrightness(float value) = 0;
};

}  // namespace vistrelle
