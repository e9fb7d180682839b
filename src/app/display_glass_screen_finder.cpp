#include "app/display_glass_screen_finder.h"

#include "device/display/glasses_screen_name.h"

namespace vistrelle {

std::vector<ai3d::GlassScreen> DisplayGlassScreenFinder::screens() {
  std::vector<ai3d::GlassScreen> found;
  for (const device::DisplayScreen& screen : displays_.screens()) {
    found.push_back({screen.displayID, screen.name, screen.outputName, screen.x, screen.y,
                     screen.width, screen.height});
  }
  return found;
}

bool DisplayGlassScreenFinder::isGlassesScreenName(std::string_view name) const {
  return device::isGlassesScreenName(name);
}

}  // namespace vistrelle
