#pragma once

namespace vistrelle {

// The AI-3D temporal filter's tuning as the settings panel reaches it: the
// current screen mode's presets, and the three values its (hidden) sliders
// read and write.  Exists only while the 3D window's controller does.
class FilterTuning {
 public:
  virtual ~FilterTuning() = default;
  // Applies the presets of the current screen mode.
  virtual void setDynamicFilterParameters() = 0;
  virtual float alpha() const = 0;
  virtual void setAlpha(float value) = 0;
  virtual float eta() const = 0;
  virtual void setEta(float value) = 0;
  virtual float sceneChangeThresh() const = 0;
  virtual void setSceneChangeThresh(float value) = 0;
};

}  // namespace vistrelle
