#pragma once

#include <string>
#include <vector>

#include "app/filter_tuning.h"

namespace vistrelle {

// A tuning in memory that records the calls it gets, in order ("presets",
// "alpha=0.05", ...); it starts at the 3D window's initial values.
class FakeFilterTuning final : public FilterTuning {
 public:
  void setDynamicFilterParameters() override;
  float alpha() const override { return alpha_; }
  void setAlpha(float value) override;
  float eta() const override { return eta_; }
  void setEta(float value) override;
  float sceneChangeThresh() const override { return sceneChangeThresh_; }
  void setSceneChangeThresh(float value) override;

  const std::vector<std::string>& calls() const { return calls_; }
  void clearCalls() { calls_.clear(); }

 private:
  float alpha_ = 0.05f;
  float eta_ = 0.2f;
  float sceneChangeThresh_ = 0.05f;
  std::vector<std::string> calls_;
};

}  // namespace vistrelle
