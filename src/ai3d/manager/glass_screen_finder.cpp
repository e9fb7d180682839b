#include "ai3d/manager/glass_screen_finder.h"

namespace vistrelle::ai3d {

std::optional<GlassScreen> pickGlassScreen(const std::vector<GlassScreen>& screens,
                                           const GlassScreenFinder& finder) {
  std::optional<GlassScreen> found;
  for (const GlassScreen& screen : screens) {
    if (finder.isGlassesScreenName(screen.name) && screen.width == kGlassesWideWidth) {
      found = screen;
    }
  }
  return found;
}

}  // namespace vistrelle::ai3d
