#include "app/depth_3d_filter_tuning.h"

#include "ai3d/pipeline/orvex_depth_3d_view_controller.h"

namespace vistrelle {

void Depth3DFilterTuning::setDynamicFilterParameters() {
  controller_.setDynamicFilterParameters();
}

float Depth3DFilterTuning::alpha() const {
  return controller_.alpha.load();
}

void Depth3DFilterTuning::setAlpha(float value) {
  controller_.alpha.store(value);
}

float Depth3DFilterTuning::eta() const {
  return controller_.eta.load();
}

void Depth3DFilterTuning::setEta(float value) {
  controller_.eta.store(value);
}

float Depth3DFilterTuning::sceneChangeThresh() const {
  return controller_.sceneChangeThresh.load();
}

void Depth3DFilterTuning::setSceneChangeThresh(float value) {
  controller_.sceneChangeThresh.store(value);
}

}  // namespace vistrelle
