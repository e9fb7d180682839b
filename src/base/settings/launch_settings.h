#pragma once

#include "platform/settings/user_defaults.h"

namespace vistrelle {

// What the launch takes from the store: the screen mode, the privacy-screen
// state and the AI-3D depth scale.
struct LaunchSettings {
  int modelType = 0;
  int privacyScreenLockState = 0;
  float depthValue = 0.01f;

  static constexpr float kDefaultDepth = 0.01f;
  static constexpr float kMaxDepth = 0.015f;

  // Reads the three settings, writing the defaults (0, 0, 0.01) for those that
  // are absent and nothing else.  Stored values outside their range are read
  // as the default (and left on disk as they are).
  static LaunchSettings load(UserDefaults& store);
};

// The depth scale as stored; NaN or out of 0..0.015 reads as 0.01.
float validatedDepth(float stored);
// The privacy state as stored; anything but 0 or 1 reads as 0.
int validatedPrivacyState(int64_t stored);
// The screen mode as stored; a value outside 32 bits reads as 0.
int validatedScreenMode(int64_t stored);

}  // namespace vistrelle
