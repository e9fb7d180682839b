#include "ai3d/pipeline/dynamic_filter_preset.h"

namespace vistrelle::ai3d {

DynamicFilterPreset dynamicFilterPresetForModelType(int modelType) {
  switch (modelType) {
    case 0:
      return {0.2f, 0.025f, 0.1f};
    case 1:
      return {0.12f, 0.03f, 0.08f};
    case 2:
      return {0.18f, 0.036f, 0.05f};
    default:
      return {0.05f, 0.2f, 0.05f};
  }
}

}  // namespace vistrelle::ai3d
