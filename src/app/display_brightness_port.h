#pragma once

#include "app/brightness_port.h"
#include "device/display/display_configuration.h"

namespace vistrelle {

// The panel's brightness through the display layer.
class DisplayBrightnessPort final : public BrightnessPort {
 public:
  explicit DisplayBrightnessPort(
      device::DisplayConfiguration& displays = device::DisplayConfiguration::shared())
      : displays_(displays) {}

  float builtinDisplayBrightness() override { return displays_.builtinDisplayBrightness(); }
  void setBuiltinDisplayBrightness(float value) override {
    displays_.setBuiltinDisplayBrightness(value);
  }

 private:
  device::DisplayConfiguration& displays_;
};

}  // namespace vistrelle
