// The temporal filter's tuning per screen mode (0 web, 1 game, 2 video);
// any other mode gets the last row.
#pragma once

namespace vistrelle::ai3d {

struct DynamicFilterPreset {
  float alpha;
  float eta;
  float sceneChangeThresh;
};

DynamicFilterPreset dynamicFilterPresetForModelType(int modelType);

}  // namespace vistrelle::ai3d
