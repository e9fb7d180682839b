// ConnectionRoad: what the application does each time the glasses come and
// go.  On a plug-in it waits for an unlocked screen, asks the glasses for
// their firmware version, lets the update check run, takes the glasses'
// screen out of mirroring, finds it, waits for the version and then decides
// between the firmware-update window, the end of a finished update, and the
// normal road that configures the glasses and opens the 3D window on them.
// On unplug it resets what belongs to the connection and puts the home
// content back.
//
//   plug-in --> locked wait --> version request, update check --> screen set-up
//           --> screen search --> version wait --> firmware decision
//           --> update window | update finished | configured, 3D window opening
//
// One road per connection: a road belongs to the command layer's connection
// epoch at its start, and every stage, timer and post of it stops as soon as
// that epoch is over, the glasses are gone or the road was ended.  Nothing
// sleeps: every wait is a timer.  Stages that ask the display server or the
// session bus run on the global queue, window changes and alerts on the main
// queue.  The unplug branch and the show-home timer span connections and run
// whatever the epoch.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "app/alert_presenter.h"
#include "app/app_window.h"
#include "base/state/main_state.h"
#include "base/timer/gcx_timer.h"
#include "platform/dispatch/executor.h"
#include "platform/notify/notification.h"
#include "platform/notify/notification_center.h"
#include "platform/settings/user_defaults.h"

namespace vistrelle {

namespace device {
class DisplayConfiguration;
class OrvexQXServer;
}  // namespace device

class ConnectionRoad : public std::enable_shared_from_this<ConnectionRoad> {
 public:
  using LogSink = std::function<void(std::string_view)>;

  static constexpr const char* kStatusChange =
      "ORVEX_Glass_Display_StatusChange_NSNotificationName";
  static constexpr const char* kUnknownVersion = "V-1.0";
  static constexpr const char* kLockedLine = "屏幕锁定状态====(true)";
  static constexpr const char* kWaitingForExtendedText = "正在等待眼镜设置为扩展显示器";

  // The Part's waits; tests run them on virtual time.
  static constexpr std::chrono::milliseconds kLockPoll{500};
  static constexpr std::chrono::milliseconds kSetupRetry{1250};
  static constexpr std::chrono::milliseconds kSearchPass{1000};
  static constexpr int kSearchLimitArm = 5;
  static constexpr int kSearchLimitIntel = 15;
  static constexpr std::chrono::milliseconds kVersionWait{250};
  static constexpr int kVersionRequestEvery = 8;
  static constexpr std::chrono::milliseconds kCommandStep{50};
  // Un-mirroring retried this long tells the user what the road waits for.
  static constexpr std::chrono::seconds kWaitingNoticeAfter{30};
  static constexpr double kShowHomeGraceSeconds = 5;

  struct Environment {
    device::OrvexQXServer* glasses = nullptr;          // required
    device::DisplayConfiguration* displays = nullptr;  // required
    // The main window (none yet: window changes do nothing).
    std::function<AppWindow*()> window;
    MainState* state = nullptr;            // default: MainState::shared()
    UserDefaults* defaults = nullptr;      // default: UserDefaults::standard()
    NotificationCenter* center = nullptr;  // default: the default centre
    GCXTimer* timer = nullptr;             // the show-home task's; default: GCXTimer::shared()
    dispatch::ExecutorPtr mainQueue;       // default: the runtime's main queue
    dispatch::ExecutorPtr globalQueue;     // default: the runtime's global queue
    // Default: the display layer's answer.
    std::function<bool()> isScreenLocked;
    // The update check; its completion says whether the road may go on.
    // None: it may, at once.
    std::function<void(std::function<void(bool)>)> checkAppUpdate;
    // The home content's tip state ("connect the glasses").
    std::function<void()> showConnectTips;
    // The firmware-update content back to its first state.
    std::function<void()> resetUpdateView;
    // The 3D window: made and opened on the glasses; closed when it exists.
    std::function<void()> openAI3D;
    std::function<void()> close3DWindow;
    // The second-generation glasses' sound device listener.
    std::function<void()> addAudioOutputVolumeListener;
    std::function<void()> removeAudioOutputVolumeListener;
    std::function<void()> restoreBuiltinBrightness;
    // First-generation glasses get their volume and mute state again.
    std::function<void(int level, bool mute)> setGlassVolume;
    // The companion server's IMU id; default: the installed companion bridge.
    std::function<void(int64_t)> setImuId;
    AlertPresenter* alerts = nullptr;  // none: an alert is logged and answered with its last button
    // The alert's "switch and quit": the exit clean-up, then the end of the
    // application.
    std::function<void()> terminate;
    LogSink log;    // the text log; default: OrvexLog
    LogSink trace;  // the road's progress; default: standard output
    // Texts in the in-app language; default: the language bundle.
    std::function<std::string(std::string_view)> localize;
  };

  static std::shared_ptr<ConnectionRoad> create(Environment environment);
  ~ConnectionRoad();
  ConnectionRoad(const ConnectionRoad&) = delete;
  ConnectionRoad& operator=(const ConnectionRoad&) = delete;

  // "ORVEX_Glass_Display_StatusChange_NSNotificationName" (main queue): the
  // object, read as a Boolean (1 and 0 count), says plugged or pulled out.
  void onGlassDisplayStatusChange(const Notification& notification);
  void plugIn();
  void pullOut();
  // "cn.com.qx.orvexForMac.GlassDisplayStatus" (any queue): the glasses'
  // 2D/3D state, 2 when the object is missing or not an integer.
  void onGlassDisplayStatus(const Notification& notification);
  // "get_orvex_glass_version_NSNotificationName" (main queue).
  void onGlassVersion(const Notification& notification);

  // True while a road of the current connection is under way.
  bool isRunning() const;
  // Roads started since creation (tests).
  uint64_t roadsStarted() const { return roadsStarted_.load(); }

  // Steps called by name from elsewhere (main queue).
  void showHomeOrDfuOnUnplug();
  void startShowHomeTimer();
  void showHomeIfStillUnplugged();

  // The version text with its model kept and the version made unknown, as
  // an unplug leaves it: "ORVEX2PRO_FW_V1.49" -> "ORVEX2PRO_FW_V-1.0"; a
  // text of no known model becomes "V-1.0".
  static std::string unpluggedVersion(const std::string& version);

 private:
  enum class Phase {
    Running,
    Finished,         // reached its end for this connection
    AwaitingScreens,  // stopped at the tips: a new plug status may start it again
    Ended,            // unplugged, replaced or stale
  };
  struct Road;
  using RoadPtr = std::shared_ptr<Road>;
  using Step = void (ConnectionRoad::*)(const RoadPtr&);

  explicit ConnectionRoad(Environment environment);

  bool alive(const RoadPtr& road) const;
  void finish(const RoadPtr& road, Phase phase);
  // Runs `step` on `queue` after `delay` (now when zero), while the road
  // lives; the road keeps the handle so that ending it cancels the wait.
  void schedule(const RoadPtr& road, const dispatch::ExecutorPtr& queue, dispatch::Nanos delay,
                Step step);
  template <typename Fn>
  void later(const RoadPtr& road, const dispatch::ExecutorPtr& queue, dispatch::Nanos delay, Fn fn);
  void onMain(const RoadPtr& road, Step step) { schedule(road, mainQueue_, {}, step); }
  void onGlobal(const RoadPtr& road, Step step) { schedule(road, globalQueue_, {}, step); }

  // The stages, in road order.
  void lockedWait(const RoadPtr& road);                                   // global
  void afterUnlock(const RoadPtr& road);                                  // main
  void continueAfterUpdateCheck(const RoadPtr& road, bool ok);            // main
  void decideSetup(const RoadPtr& road);                                  // global
  void showConnectTips(const RoadPtr& road);                              // main
  void setupAttempt(const RoadPtr& road);                                 // global
  void setupRetry(const RoadPtr& road);                                   // global
  void searchPass(const RoadPtr& road);                                   // global
  void versionStage(const RoadPtr& road);                                 // global
  void versionLoop(const RoadPtr& road);                                  // global
  void versionTick(const RoadPtr& road);                                  // global
  void firmwareCheck(const RoadPtr& road);                                // global
  void handleFirmwareCheckResult(const RoadPtr& road, bool needsUpdate);  // global
  void showDfuWindow(const RoadPtr& road);                                // main
  void showHomeContent(const RoadPtr& road);                              // main
  void offsetRequest(const RoadPtr& road);                                // global
  void wearInfoRequest(const RoadPtr& road);                              // global
  void wearDetectionOff(const RoadPtr& road);                             // global
  void finishConfiguration(const RoadPtr& road);                          // global
  void openAI3D(const RoadPtr& road);                                     // main
  void showNotExtendedDisplayAlert(const RoadPtr& road);                  // main

  bool isBootLoaderConnected() const;
  void setContent(WindowContent content);
  void noteWaiting(const RoadPtr& road, dispatch::Nanos waited);
  std::string text(std::string_view key) const;

  Environment env_;
  MainState& state_;
  UserDefaults& defaults_;
  NotificationCenter& center_;
  GCXTimer& timer();
  dispatch::ExecutorPtr mainQueue_;
  dispatch::ExecutorPtr globalQueue_;

  mutable std::mutex mutex_;
  RoadPtr road_;  // the latest road
  std::atomic<uint64_t> roadsStarted_{0};
};

}  // namespace vistrelle
