#include "app/fake/fake_filter_tuning.h"

#include "app/decimal_text.h"

namespace vistrelle {

void FakeFilterTuning::setDynamicFilterParameters() {
  calls_.push_back("presets");
}

void FakeFilterTuning::setAlpha(float value) {
  alpha_ = value;
  calls_.push_back("alpha=" + shortestText(value));
}

void FakeFilterTuning::setEta(float value) {
  eta_ = value;
  calls_.push_back("eta=" + shortestText(value));
}

void FakeFilterTuning::setSceneChangeThresh(float value) {
  sceneChangeThresh_ = value;
  calls_.push_back("sceneChangeThresh=" + shortestText(value));
}

}  // namespace vistrelle
