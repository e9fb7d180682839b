// DisplayConfiguration: the glasses' screen on the desktop.  It finds the
// screens and the glasses among them, takes the glasses out of mirroring,
// keeps the main display off them, switches their width between 1920 (2D)
// and 3840 (side by side), and answers the small questions about screens,
// the built-in panel's brightness, the screen lock and the permissions.
//
// Screens are the outputs driving an active CRTC, display ids their output
// ids (the screen capture's), and the main display the primary output (what
// the capture films).  Every call is safe from any thread and bounded by a
// few round trips to the display server; retries belong to the callers.
// One instance holds the process' caches: the built-in screen (found once,
// never refreshed) and whether the accessibility nudge was posted.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/state/main_state.h"
#include "device/display/backlight_brightness.h"
#include "device/display/display_screen.h"
#include "device/display/lazy_bus.h"
#include "device/display/screen_lock_query.h"
#include "device/display/system_settings_opener.h"
#include "platform/dispatch/executor.h"
#include "platform/display/display_server.h"
#include "platform/notify/notification_center.h"

namespace vistrelle::device {

class DisplayConfiguration {
 public:
  using LogSink = std::function<void(std::string_view)>;
  using Completion = std::function<void(bool)>;

  struct Options {
    std::shared_ptr<display::DisplayServer> server;  // default: RandR on $DISPLAY
    MainState* state = nullptr;                      // default: MainState::shared()
    NotificationCenter* center = nullptr;            // default: the default centre
    dispatch::ExecutorPtr mainQueue;                 // default: the runtime's main queue
    std::shared_ptr<bus::BusConnector> buses;        // default: the process' buses
    std::string backlightRoot = "/sys/class/backlight";
    SystemSettingsOpener::Options opener;
    // X11 asks no one for leave to post input: trusted unless a test says not.
    std::function<bool()> accessibilityTrusted;
    LogSink printLog;  // resolution progress; default: the USB-service facade's printLog
    LogSink trace;     // debug traces; default: standard output in debug builds only
    LogSink print;     // console lines; default: standard output
    LogSink log;       // the text log; default: OrvexLog
  };

  static constexpr int kNarrowWidth = 1920;
  static constexpr int kMaxOnlineDisplays = 16;
  static constexpr std::chrono::milliseconds kRestoreLimit{2000};
  static constexpr std::chrono::milliseconds kMouseMoveDelay{250};
  static constexpr size_t kMaxLoggedReasons = 64;

  DisplayConfiguration();
  explicit DisplayConfiguration(Options options);
  DisplayConfiguration(const DisplayConfiguration&) = delete;
  DisplayConfiguration& operator=(const DisplayConfiguration&) = delete;

  // The process' instance, made at first use with the defaults.
  static DisplayConfiguration& shared();

  // ---- Screens ----
  // In the server's order; empty when the server cannot be read.
  std::vector<DisplayScreen> screens();
  std::optional<DisplayScreen> mainScreen();
  std::optional<DisplayScreen> glassesScreen();
  // The output id of an output name ("DUMMY1"), for events named by output.
  std::optional<uint32_t> outputIdForName(const std::string& outputName);
  // The first built-in screen, remembered for the rest of the process.
  std::optional<DisplayScreen> builtinScreen();
  // None while a built-in screen is known; else the first screen whose name
  // holds neither "orvex" nor "monitor".
  std::optional<DisplayScreen> externalNonGlassesScreen();
  std::optional<uint32_t> externalScreenDisplayID();

  // ---- Host questions ----
  // A machine without a panel of its own (no output of ConnectorType Panel,
  // none named eDP*, LVDS* or DSI*), where a second monitor is the only
  // screen besides the glasses.
  bool isDesktopHost();
  bool needsExternalDisplayTip();
  bool isMacMiniWithOnlyGlassesScreens();
  // Outputs connected or on, at most 16; 0 when the server cannot be read.
  int onlineDisplayCount();

  // ---- Changes ----
  // Takes every glasses screen out of mirroring and, with moveMain, makes
  // the built-in (else the external) screen the main display at 0,0 with the
  // glasses at its right.  False when a change failed, when the glasses are
  // the main display and moveMain is false, or with requireTwoScreens and
  // fewer than two screens.
  bool cancelGlassesMirrorAndMoveMain(bool requireTwoScreens, bool moveMain);
  // Sets the display's first mode of `width` (the height is not compared)
  // and calls `completion` once, on the calling thread.  Already
  // width x height: true at once.  A width it does not list is looked for
  // again after one probe (glasses may list 3840 only after their switch).
  void resolutionSwitch(uint32_t displayID, int width, int height, Completion completion);
  // For the exit: the glasses' screen back to its first 1920-wide mode, now,
  // within `limit`.  Posts nothing.  True when there is nothing to restore;
  // false on time-out, a lost server or a refused change.
  bool restoreGlasses1920Sync(std::chrono::milliseconds limit = kRestoreLimit);

  // ---- Brightness, lock, permissions ----
  // The built-in panel's brightness 0..1; 0 while MainState's
  // builtinDisplayID is 0.
  float builtinDisplayBrightness();
  // Likewise nothing while builtinDisplayID is 0.  Blocks for a bus round
  // trip at most: call it off the main thread.
  void setBuiltinDisplayBrightness(float value);
  bool isScreenLocked();
  // Whether the process may post input events; when it may not, the first
  // time in the process a synthetic pointer motion follows 0.25 s later on
  // the main queue (it makes the system list the application).
  bool checkAccessibilityPermission();
  void postSyntheticMouseMove();

  // ---- Notices and openers ----
  void postNotification(const std::string& name, Value object = {});
  void openDisplaysSettings();
  void openScreenCapturePrivacySettings();
  void openURLString(const std::string& text);

 private:
  std::optional<display::DisplayLayout> readLayout();
  std::optional<DisplayScreen> builtinScreenIn(const display::DisplayLayout& layout);
  std::optional<DisplayScreen> externalNonGlassesScreenIn(const display::DisplayLayout& layout);
  // Where the main display goes: the built-in screen while it is on, else
  // the external one.
  std::optional<uint32_t> targetIn(const display::DisplayLayout& layout);
  bool unmirrorGlasses(display::DisplayLayout& layout, uint32_t glasses);
  bool moveMainOffGlasses(display::DisplayLayout& layout, uint32_t glasses, uint32_t target);
  bool unmirrorMain(display::DisplayLayout& layout, uint32_t target);
  // Logs the reason of a failure once until a change succeeds: callers
  // retry every second or so.
  void logOnce(const std::string& reason);
  void changeSucceeded();

  Options options_;
  std::shared_ptr<LazyBus> systemBus_;
  std::shared_ptr<LazyBus> sessionBus_;
  BacklightBrightness backlight_;
  ScreenLockQuery lock_;
  SystemSettingsOpener opener_;

  std::mutex mutex_;
  std::optional<DisplayScreen> builtinScreen_;
  bool mouseMovePosted_ = false;
  std::set<std::string> logged_;
};

}  // namespace vistrelle::device
