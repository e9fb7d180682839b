#pragma once

#include "device/display/display_configuration.h"
#include "device/hid/glasses_display_port.h"

namespace vistrelle::device {

// The command layer's view of the glasses' screen, over the display
// configuration: the first screen named as the glasses, and its width switch.
//
//   server.setDisplayPort(std::make_shared<GlassesDisplayAdapter>(DisplayConfiguration::shared()));
class GlassesDisplayAdapter final : public GlassesDisplayPort {
 public:
  explicit GlassesDisplayAdapter(DisplayConfiguration& displays) : displays_(displays) {}

  std::optional<GlassesScreen> glassesScreen() override;
  void resolutionSwitch(uint32_t displayId, int width, int height,
                        std::function<void(bool)> completion) override;

 private:
  DisplayConfiguration& displays_;
};

}  // namespace vistrelle::device
