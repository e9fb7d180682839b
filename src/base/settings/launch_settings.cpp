#include "base/settings/launch_settings.h"

#include <cmath>
#include <cstdint>

#include "base/settings/settings_keys.h"

namespace vistrelle {

float validatedDepth(float stored) {
  if (!std::isfinite(stored) || stored < 0.0f || stored > LaunchSettings::kMaxDepth) {
    return LaunchSettings::kDefaultDepth;
  }
  return stored;
}

int validatedPrivacyState(int64_t stored) {
  return stored == 1 ? 1 : 0;
}

int validatedScreenMode(int64_t stored) {
  // Modes other than 0..2 are kept: the AI-3D presets have a row for them.
  if (stored < INT32_MIN || stored > INT32_MAX) return 0;
  return static_cast<int>(stored);
}

LaunchSettings LaunchSettings::load(UserDefaults& store) {
  LaunchSettings settings;
  if (auto mode = store.integerForKey(settings_keys::kScreenMode)) {
    settings.modelType = validatedScreenMode(*mode);
  } else {
    store.setInteger(settings_keys::kScreenMode, 0);
    store.synchronize();
  }
  if (auto privacy = store.integerForKey(settings_keys::kPrivacyScreenLockState)) {
    settings.privacyScreenLockState = validatedPrivacyState(*privacy);
  } else {
    store.setInteger(settings_keys::kPrivacyScreenLockState, 0);
    store.synchronize();
  }
  if (auto depth = store.floatForKey(settings_keys::kDepthScaleValue)) {
    settings.depthValue = validatedDepth(*depth);
  } else {
    store.setFloat(settings_keys::kDepthScaleValue, kDefaultDepth);
    store.synchronize();
  }
  return settings;
}

}  // namespace vistrelle
