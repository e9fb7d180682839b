#pragma once

#include <cstdint>
#include <memory>

#include "app/glass_volume_commands.h"
#include "app/system_defined_event.h"
#include "base/state/main_state.h"
#include "platform/dispatch/clock.h"
#include "platform/notify/notification.h"
#include "platform/notify/notification_center.h"
#include "platform/settings/user_defaults.h"

namespace vistrelle {

// The keyboard's volume keys drive first-generation glasses through their
// volume command (second-generation glasses are a sound device of their own
// and follow the system volume); the level and mute state are kept in the
// main state and the settings.  Main queue only.
class GlassVolumeControl {
 public:
  static constexpr const char* kVolumeChanged = "change_orvex_glass_volume_NSNotificationName";
  static constexpr uint32_t kSoundUp = 0x00000B00;    // sound up, released
  static constexpr uint32_t kSoundDown = 0x00010B00;  // sound down, released
  static constexpr uint32_t kMute = 0x00070B00;       // mute, released
  static constexpr int kMaxLevel = 6;
  // Releases this close together count once.
  static constexpr double kDebounceMilliseconds = 10;
  // The first firmware of first-generation glasses that takes the command,
  // and the prefix of their version texts.
  static constexpr const char* kFirstGenerationPrefix = "ORVEX_FW_V";
  static constexpr const char* kUnknownVersion = "V-1.0";

  struct Options {
    std::shared_ptr<GlassVolumeCommands> commands;  // none: nothing is ever sent
    MainState* state = nullptr;                     // default: MainState::shared()
    UserDefaults* defaults = nullptr;               // default: UserDefaults::standard()
    NotificationCenter* center = nullptr;           // default: the default centre
    // Monotonic, so that a step of the wall clock neither swallows nor
    // doubles a press.  Default: CLOCK_MONOTONIC.
    std::shared_ptr<dispatch::Clock> clock;
  };

  explicit GlassVolumeControl(Options options);

  // The handlers of the media-key monitors.  The local one hands the event
  // back unchanged: the keys are never taken from anyone.
  SystemDefinedEvent handleMediaKeyLocalEvent(const SystemDefinedEvent& event);
  void handleMediaKeyGlobalEvent(const SystemDefinedEvent& event);
  void handleMediaKeyEvent(const SystemDefinedEvent& event);

  // Sends `level` (clamped to 0..6) or, with `mute`, level 0 while keeping the
  // level for the unmute; stores both and posts kVolumeChanged.  Nothing at
  // all unless attached first-generation glasses run firmware that takes the
  // command (ORVEX_FW_V1.30 or later).
  void setGlassVolume(int level, bool mute);
  // Whether setGlassVolume would act now.
  bool acceptsVolume() const;

  // "SystemVolumeListener_Notification_Name": the second-generation glasses'
  // volume, 0 when the object is not a float.
  void onSystemVolume(const Notification& notification);

 private:
  Options options_;
  MainState& state_;
  UserDefaults& defaults_;
  NotificationCenter& center_;
};

}  // namespace vistrelle
