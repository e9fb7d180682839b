#include "device/display/glasses_display_adapter.h"

namespace vistrelle::device {

std::optional<GlassesScreen> GlassesDisplayAdapter::glassesScreen() {
  const std::optional<DisplayScreen> screen = displays_.glassesScreen();
  if (!screen) return std::nullopt;
  return GlassesScreen{screen->displayID, screen->height};
}

void GlassesDisplayAdapter::resolutionSwitch(uint32_t displayId, int width, int height,
                                             std::function<void(bool)> completion) {
  displays_.resolutionSwitch(displayId, width, height, std::move(completion));
}

}  // namespace vistrelle::device
