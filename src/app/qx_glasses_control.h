#pragma once

#include "ai3d/manager/glasses_control.h"
#include "base/state/main_state.h"
#include "device/hid/orvex_qx_server.h"

namespace vistrelle {

// The AI-3D manager's glasses: the command layer's current device, its
// commands and its connection epoch.
class QxGlassesControl final : public ai3d::GlassesControl {
 public:
  explicit QxGlassesControl(device::OrvexQXServer& qxServer, MainState* state = nullptr)
      : qxServer_(qxServer), state_(state ? *state : MainState::shared()) {}

  bool hasCurrentDevice() const override { return qxServer_.ioHidDevice().has_value(); }
  // connectedDevice = a new transport over ioHidDevice, then the switch;
  // -1 (nothing sent) without current glasses.  Once the exit clean-up has
  // begun, the 2D switch is its own, sent already: nothing is sent again.
  int32_t switchDisplay3D(bool on) override;
  int32_t setDuty(int32_t duty) override { return qxServer_.setDuty(duty); }
  int32_t setLightSensorWearDetection(bool close) override {
    return qxServer_.setLightSensorWearDetection(close);
  }
  int32_t changeIMUWithGlass(bool isClose) override {
    return qxServer_.changeIMUWithGlass(isClose);
  }
  uint64_t connectionEpoch() const override { return qxServer_.connectionEpoch(); }

 private:
  device::OrvexQXServer& qxServer_;
  MainState& state_;
};

}  // namespace vistrelle
