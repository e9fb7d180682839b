#pragma once

#include "ai3d/manager/glass_screen_finder.h"
#include "device/display/display_configuration.h"

namespace vistrelle {

// The AI-3D manager's screens: the display configuration's (RandR outputs
// driving a CRTC, sized by their mode in device pixels, named by EDID).
class DisplayGlassScreenFinder final : public ai3d::GlassScreenFinder {
 public:
  explicit DisplayGlassScreenFinder(device::DisplayConfiguration& displays) : displays_(displays) {}

  std::vector<ai3d::GlassScreen> screens() override;
  bool isGlassesScreenName(std::string_view name) const override;
  bool cancelGlassesMirrorAndMoveMain(bool requireTwoScreens, bool moveMain) override {
    return displays_.cancelGlassesMirrorAndMoveMain(requireTwoScreens, moveMain);
  }

 private:
  device::DisplayConfiguration& displays_;
};

}  // namespace vistrelle
