#pragma once

namespace vistrelle {

// The privacy screen's dimming of the built-in panel, as the panels and the
// connection road call it.
class BrightnessControl {
 public:
  virtual ~BrightnessControl() = default;
  // Fades the built-in panel to dark, keeping its brightness for the restore.
  virtual void closeBuiltinBrightness() = 0;
  // Brings the kept brightness back.
  virtual void restoreBuiltinBrightness() = 0;
};

}  // namespace vistrelle
