#pragma once

#include "app/filter_tuning.h"

namespace vistrelle::ai3d {
class OrvexDepth3DViewController;
}

namespace vistrelle {

// The tuning of the 3D window's controller, which must outlive this adapter.
class Depth3DFilterTuning final : public FilterTuning {
 public:
  explicit Depth3DFilterTuning(ai3d::OrvexDepth3DViewController& controller)
      : controller_(controller) {}

  void setDynamicFilterParameters() override;
  float alpha() const override;
  void setAlpha(float value) override;
  float eta() const override;
  void setEta(float value) override;
  float sceneChangeThresh() const override;
  void setSceneChangeThresh(float value) override;

 private:
  ai3d::OrvexDepth3DViewController& controller_;
};

}  // namespace vistrelle
