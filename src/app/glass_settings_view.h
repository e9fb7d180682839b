#pragma once

#include <string>

namespace vistrelle {

// The sliders of the glasses settings views: the depth strength, and the
// panel's three (hidden) temporal-filter sliders.
enum class SettingsSlider { depth, alpha, eta, sceneChangeThresh };

// What the glasses settings controller draws on: the panel in the main window
// or the quick controls in the status item's popover.  Positions are in
// pixels along a slider's track.
class GlassSettingsView {
 public:
  virtual ~GlassSettingsView() = default;

  // The track's width (0 before it is laid out) and the knob image's width.
  virtual double trackWidth(SettingsSlider slider) const = 0;
  virtual double knobWidth(SettingsSlider slider) const = 0;
  // The knob's leading edge, from the track's leading edge (may be < 0).
  virtual void setKnobOffset(SettingsSlider slider, double offset) = 0;
  // The value text beside a slider (the depth's exists on the panel only).
  virtual void setValueText(SettingsSlider slider, const std::string& text) = 0;
  // The "selected" mark of screen mode 0 (web), 1 (game) or 2 (video).
  virtual void setModeMarkHidden(int mode, bool hidden) = 0;
  // The privacy switch's state (1 on, 0 off) and its image by name.
  virtual void setPrivacyToggle(int state, const std::string& imageName) = 0;
  // The panel's glasses name and firmware text.
  virtual void setGlassName(const std::string& name) = 0;
  virtual void setFirmwareText(const std::string& text) = 0;
};

}  // namespace vistrelle
