#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "base/state/locked_value.h"

namespace vistrelle {

// The application's main state: what the delegate holds and every subsystem
// reads (glasses connected, model generation's firmware, screen mode, depth,
// privacy screen, volume, display ids, ...).  The subsystems sit below the
// application layer and cannot reach the delegate, so the state lives here and
// the delegate's fields are accessors over it.
//
// Flags and numbers are atomics; texts sit behind a lock and are read as
// snapshots.  Writers on different threads (the HID monitor thread, the main
// queue, global-queue tasks) never tear a value, but a reader still takes
// whatever is current: where an order between fields matters, the one writer
// of those fields says so.
class MainState {
 public:
  MainState() { reset(); }
  MainState(const MainState&) = delete;
  MainState& operator=(const MainState&) = delete;

  // The process' state, as the delegate publishes it.
  static MainState& shared();

  // Back to the initial values (the application's launch state; tests).
  void reset();

  std::atomic<int> mouseClick;            // last status-item click: 1 left, 2 right
  std::atomic<bool> glassStatus;          // glasses connected
  std::atomic<bool> isOpen3D;             // the 3D window switches the glasses to 3D
  std::atomic<bool> isCPUARM;             // the host processor is not an Intel one
  std::atomic<int> modelType;             // screen mode: 0 web, 1 game, 2 video
  std::atomic<int> volumeLevel;           // glasses volume level 0..6
  std::atomic<float> volumeValue_V2;      // last system volume of second-generation glasses
  std::atomic<bool> manuallyChangeVolumeValue_V2;
  std::atomic<bool> isSoundOff;           // glasses muted
  LockedValue<std::string> glassVersion;  // firmware text; "V-1.0" inside means unknown
  std::atomic<uint32_t> glassDisplayID;   // the glasses' screen
  std::atomic<uint32_t> builtinDisplayID; // the built-in screen, 0 when there is none
  std::atomic<int> glassDisplayStatus;    // 2D/3D state reported by the glasses
  LockedValue<std::string> checkVolumeVersion_V1;
  LockedValue<std::string> checkVolumeVersion_V2;
  LockedValue<std::string> checkVolumeVersion_V2Pro;
  LockedValue<std::string> dfuUpdateVersion_V2;     // firmware second-generation glasses must have
  LockedValue<std::string> dfuUpdateVersion_V2Pro;  // the same for the Pro model
  std::atomic<bool> isDfuUpdate;          // the firmware-update content is showing
  std::atomic<bool> isDfuUpdateStart;     // a firmware flash has started
  std::atomic<bool> isBeginUpdateDfu;     // the boot loader has appeared for the update window
  std::atomic<int> privacyScreenLockButtonState;  // privacy screen on (1) / off (0)
  std::atomic<float> defaultBrightness;   // built-in brightness saved before dimming
  std::atomic<bool> isCloseIMU;           // IMU stream switched off
  std::atomic<bool> isExit;               // the exit clean-up has begun
  std::atomic<int64_t> time;
  LockedValue<std::string> showHomeTimerIdentification;  // pending show-home task id
  std::atomic<bool> isOpenImmersion;
  std::atomic<bool> isOpenAI3D;
  std::atomic<float> depthValue;          // AI-3D depth scale, 0..0.015
  std::atomic<float> depthMainValue;
  std::atomic<float> depthMaxValue;
  std::atomic<bool> isOverseas;           // the user's region is not mainland China
  std::atomic<bool> depthUseHigh;
  std::atomic<bool> isDebug;
  std::atomic<double> changeVolumeTime;   // monotonic ms of the last media-key change
  LockedValue<std::string> timerInv;      // id of the dimming timer task
  // The 3D window is up on the glasses' screen: set before the window posts
  // its success, read by the privacy dimming.
  std::atomic<bool> isAI3DWindowOnGlasses;
};

}  // namespace vistrelle
