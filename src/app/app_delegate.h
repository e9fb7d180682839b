#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/app_services.h"
#include "app/app_update_host.h"
#include "app/app_window.h"
#include "app/brightness_control.h"
#include "app/connection_road.h"
#include "app/depth_manager_control.h"
#include "app/filter_tuning.h"
#include "base/state/main_state.h"
#include "cloud/update/app_update.h"
#include "platform/dispatch/delayed_task.h"
#include "platform/notify/subscription.h"

namespace vistrelle {

class BuiltinBrightnessDimmer;
class GlassVolumeControl;

namespace device {
class DisplayConfiguration;
}

namespace cloud {
class Login;
}

// The application's spine: it runs the launch, holds the main state every
// subsystem reads, and owns the one exit road.  Lives for the whole process.
class AppDelegate {
 public:
  struct MenuEntry {
    std::string title;
    std::function<void()> action;
  };

  explicit AppDelegate(AppServices services);
  ~AppDelegate();
  AppDelegate(const AppDelegate&) = delete;
  AppDelegate& operator=(const AppDelegate&) = delete;

  // Framework callbacks.
  void applicationDidFinishLaunching();
  // Runs the exit clean-up (once per process).
  void applicationWillTerminate();
  bool applicationSupportsSecureRestorableState() const { return true; }
  bool applicationShouldHandleReopen(bool hasVisibleWindows);

  // Every termination road ends here: the exit view's button, the window's close
  // button where there is no status item, the system's termination signals
  // and the session's logout.  Posts the exit clean-up to the main queue, then
  // ends the main loop with status 0.  Safe from any thread, any number of
  // times.
  void terminate();
  // The main window's close button: true when the window should close and the
  // application end (no status item to get back in), false when it only hides.
  bool windowShouldCloseAndQuit();

  void exitAppWithIsRecover(bool isRecover);
  void showHomeWindow();
  // The account session, whose sign-in and sign-out show the home window
  // through this delegate for as long as it lives.  Main queue.
  void setAccountSession(std::shared_ptr<cloud::Login> account);
  void setupStatusItem();
  // The status item's click: records it in `mouseClick` and shows the popover
  // for it.
  void itemActionWithBtn(StatusItem::Click click);
  // Right click: a fresh exit view.  Left click: the quick glasses controls
  // while glasses are connected and no firmware update runs, else nothing.
  void showPopover();
  // Clears the popover's content, then gives it the quick glasses controls
  // when glasses are connected and no firmware update runs.
  void updatePopoverContent();
  // The status item's popover (none: clicks only record themselves).
  StatusPopover* firstPopover() const { return services_.statusPopover; }
  UserDefaults* userDefaults() const { return services_.defaults; }

  // ---- Seams the application's wiring fills; an empty one does nothing ----
  // The privacy screen's dimming of the built-in display and its restore
  // (none: nothing dims).  Whether a dim takes effect is the dimming's own
  // decision.  `control` outlives the delegate.
  void setBrightnessControl(BrightnessControl* control) { brightness_ = control; }
  void closeBuiltinBrightness();
  void restoreBuiltinBrightness();
  // The media-key event monitors, installed once the permissions allow it.
  void setMediaKeyMonitorsInstaller(std::function<void()> install);
  void installMediaKeyMonitors();
  // Makes the shared sleep and screen-lock observer (the home view asks once).
  void setSleepObserverFactory(std::function<void()> factory);
  void createSleepObserver();
  // The AI-3D filter tuning; none until the 3D window's controller exists.
  void setFilterTuningSource(std::function<FilterTuning*()> source);
  FilterTuning* filterTuning() const;
  // The connected glasses' product name; default: the command layer's.
  void setGlassNameSource(std::function<std::string()> source);
  std::string glassName() const;
  bool getCPUTypeIsARM() const;
  bool checkisChinaSimplified() const;

  // What the update check works with: the user interface's sheet factory
  // (none: no sheet can be made) and the services, whose empty ones are the
  // process' own.  Before the first check.
  void configureUpdate(AppUpdateHost::SheetFactory makeSheet, cloud::UpdateServices services = {});
  // Asks the service for a newer build while the main window shows its home
  // content, and lays the update sheet over it when there is one.
  // completion(true): nothing is in the way (no sheet is showing), so the
  // glasses' set-up may go on.  Main queue.
  void checkAppUpdate(std::function<void(bool nothingInTheWay)> completion = {});
  // The update sheet while it exists.
  cloud::UpdateSheetController* appUpdateView() const {
    return appUpdate_ ? appUpdate_->appUpdateView() : nullptr;
  }

  // ---- The glasses ----
  // The command layer, made at init and started by the launch's last step.
  device::OrvexQXServer& qxServer() const { return *qxServer_; }
  ConnectionRoad& connectionRoad() const { return *road_; }
  // Launch step 9: the update check whenever the application becomes
  // active, the glasses' version and the system volume.
  void addObservers();
  // Launch step 10: the glasses' screen out of mirroring (retried every
  // 1.25 s, on timers), then, where the screen can be captured, the plug
  // observers and the command layer's monitor.  In a Wayland session, or
  // without capture, the alert that ends the application instead.
  void startGlassMonitoring();
  // The monitor runs: plug-ins are heard from now on.
  bool isGlassMonitoringStarted() const { return monitoringStarted_; }
  // The application became active (the window or the tray in front).
  void applicationDidBecomeActive();
  void closeGlass();
  bool checkORVEXGLASSWithName1WithDisplayName(const std::string& displayName) const;
  // The 3D window on the glasses: the depth manager (made at the first call)
  // opens it.
  void openAI3D();
  // Null until the first openAI3D made it.
  DepthManagerControl* depthManager() const { return depthManager_.get(); }

  // ---- What the process entry connects (before the launch) ----
  void setDepthManagerFactory(std::function<std::shared_ptr<DepthManagerControl>()> factory);
  void setGlassVolumeControl(GlassVolumeControl* volume) { volume_ = volume; }
  // The privacy dimming (as setBrightnessControl), its bounded restore at
  // exit and the restore at launch.
  void setBrightnessDimmer(BuiltinBrightnessDimmer* dimmer);
  // The home content's tip state.
  void setConnectTipsPresenter(std::function<void()> show) { showConnectTips_ = std::move(show); }
  // The firmware-update content back to its first state.
  void setUpdateViewReset(std::function<void()> reset) { resetUpdateView_ = std::move(reset); }
  static constexpr const char* kScreenRecordingTitle = "录屏权限未开启";
  static constexpr const char* kScreenRecordingText =
      "'Vistrelle'正常运行需要开启录屏权限，是否去开启?";
  static constexpr const char* kX11SessionText =
      "Vistrelle 需要在 X11 会话中运行，请选择 X11 会话后重新启动";
  static constexpr const char* kScreenRecordingButton = "退出并开启权限";
  static constexpr std::chrono::milliseconds kUnmirrorRetry{1250};
  static constexpr std::chrono::seconds kWaitingNoticeAfter{30};
  static constexpr std::chrono::milliseconds kAlertExitDelay{500};

  AppWindow* window() const { return window_.get(); }
  // The application menu: one entry, "退出Vistrelle".  It is never attached to
  // the status item, which works through its popovers only.
  const std::vector<MenuEntry>& appMenu() const { return appMenu_; }
  int exitCleanupRuns() const { return exitCleanupRuns_.load(); }

  // The main state by the names the application knows; it lives in
  // MainState::shared(), where the subsystems below read it.
  int mouseClick() const { return state_.mouseClick.load(); }
  void setMouseClick(int value) { state_.mouseClick.store(value); }
  bool glassStatus() const { return state_.glassStatus.load(); }
  void setGlassStatus(bool value) { state_.glassStatus.store(value); }
  bool isOpen3D() const { return state_.isOpen3D.load(); }
  void setIsOpen3D(bool value) { state_.isOpen3D.store(value); }
  bool isCPUARM() const { return state_.isCPUARM.load(); }
  void setIsCPUARM(bool value) { state_.isCPUARM.store(value); }
  int modelType() const { return state_.modelType.load(); }
  void setModelType(int value) { state_.modelType.store(value); }
  int volumeLevel() const { return state_.volumeLevel.load(); }
  void setVolumeLevel(int value) { state_.volumeLevel.store(value); }
  float volumeValue_V2() const { return state_.volumeValue_V2.load(); }
  void setVolumeValue_V2(float value) { state_.volumeValue_V2.store(value); }
  bool manuallyChangeVolumeValue_V2() const { return state_.manuallyChangeVolumeValue_V2.load(); }
  void setManuallyChangeVolumeValue_V2(bool value) {
    state_.manuallyChangeVolumeValue_V2.store(value);
  }
  bool isSoundOff() const { return state_.isSoundOff.load(); }
  void setIsSoundOff(bool value) { state_.isSoundOff.store(value); }
  std::string glassVersion() const { return state_.glassVersion.get(); }
  void setGlassVersion(std::string value) { state_.glassVersion.set(std::move(value)); }
  uint32_t glassDisplayID() const { return state_.glassDisplayID.load(); }
  void setGlassDisplayID(uint32_t value) { state_.glassDisplayID.store(value); }
  uint32_t builtinDisplayID() const { return state_.builtinDisplayID.load(); }
  void setBuiltinDisplayID(uint32_t value) { state_.builtinDisplayID.store(value); }
  int glassDisplayStatus() const { return state_.glassDisplayStatus.load(); }
  void setGlassDisplayStatus(int value) { state_.glassDisplayStatus.store(value); }
  std::string checkVolumeVersion_V1() const { return state_.checkVolumeVersion_V1.get(); }
  void setCheckVolumeVersion_V1(std::string value) {
    state_.checkVolumeVersion_V1.set(std::move(value));
  }
  std::string checkVolumeVersion_V2() const { return state_.checkVolumeVersion_V2.get(); }
  void setCheckVolumeVersion_V2(std::string value) {
    state_.checkVolumeVersion_V2.set(std::move(value));
  }
  std::string checkVolumeVersion_V2Pro() const { return state_.checkVolumeVersion_V2Pro.get(); }
  void setCheckVolumeVersion_V2Pro(std::string value) {
    state_.checkVolumeVersion_V2Pro.set(std::move(value));
  }
  std::string dfuUpdateVersion_V2() const { return state_.dfuUpdateVersion_V2.get(); }
  void setDfuUpdateVersion_V2(std::string value) {
    state_.dfuUpdateVersion_V2.set(std::move(value));
  }
  std::string dfuUpdateVersion_V2Pro() const { return state_.dfuUpdateVersion_V2Pro.get(); }
  void setDfuUpdateVersion_V2Pro(std::string value) {
    state_.dfuUpdateVersion_V2Pro.set(std::move(value));
  }
  bool isDfuUpdate() const { return state_.isDfuUpdate.load(); }
  void setIsDfuUpdate(bool value) { state_.isDfuUpdate.store(value); }
  bool isDfuUpdateStart() const { return state_.isDfuUpdateStart.load(); }
  void setIsDfuUpdateStart(bool value) { state_.isDfuUpdateStart.store(value); }
  int privacyScreenLockButtonState() const { return state_.privacyScreenLockButtonState.load(); }
  void setPrivacyScreenLockButtonState(int value) {
    state_.privacyScreenLockButtonState.store(value);
  }
  float defaultBrightness() const { return state_.defaultBrightness.load(); }
  void setDefaultBrightness(float value) { state_.defaultBrightness.store(value); }
  bool isCloseIMU() const { return state_.isCloseIMU.load(); }
  void setIsCloseIMU(bool value) { state_.isCloseIMU.store(value); }
  bool isExit() const { return state_.isExit.load(); }
  void setIsExit(bool value) { state_.isExit.store(value); }
  int64_t time() const { return state_.time.load(); }
  void setTime(int64_t value) { state_.time.store(value); }
  std::string showHomeTimerIdentification() const {
    return state_.showHomeTimerIdentification.get();
  }
  void setShowHomeTimerIdentification(std::string value) {
    state_.showHomeTimerIdentification.set(std::move(value));
  }
  bool isOpenImmersion() const { return state_.isOpenImmersion.load(); }
  void setIsOpenImmersion(bool value) { state_.isOpenImmersion.store(value); }
  bool isOpenAI3D() const { return state_.isOpenAI3D.load(); }
  void setIsOpenAI3D(bool value) { state_.isOpenAI3D.store(value); }
  float depthValue() const { return state_.depthValue.load(); }
  void setDepthValue(float value) { state_.depthValue.store(value); }
  float depthMainValue() const { return state_.depthMainValue.load(); }
  void setDepthMainValue(float value) { state_.depthMainValue.store(value); }
  float depthMaxValue() const { return state_.depthMaxValue.load(); }
  void setDepthMaxValue(float value) { state_.depthMaxValue.store(value); }
  bool isOverseas() const { return state_.isOverseas.load(); }
  void setIsOverseas(bool value) { state_.isOverseas.store(value); }
  bool depthUseHigh() const { return state_.depthUseHigh.load(); }
  void setDepthUseHigh(bool value) { state_.depthUseHigh.store(value); }
  bool isDebug() const { return state_.isDebug.load(); }
  void setIsDebug(bool value) { state_.isDebug.store(value); }
  double changeVolumeTime() const { return state_.changeVolumeTime.load(); }
  void setChangeVolumeTime(double value) { state_.changeVolumeTime.store(value); }
  std::string timerInv() const { return state_.timerInv.get(); }
  void setTimerInv(std::string value) { state_.timerInv.set(std::move(value)); }

 private:
  std::shared_ptr<ConnectionRoad> makeConnectionRoad();
  device::DisplayConfiguration& displays() const;
  dispatch::ExecutorPtr globalQueue() const;
  void unmirrorAtLaunch();
  void monitorGlasses();
  void showScreenRecordingAlert(bool waylandSession);
  std::string localized(std::string_view key) const;

  MainState& state_ = MainState::shared();
  AppServices services_;
  std::unique_ptr<AppWindow> window_;
  std::vector<MenuEntry> appMenu_;
  std::atomic<bool> terminating_{false};
  std::atomic<int> exitCleanupRuns_{0};
  AppUpdateHost::SheetFactory makeUpdateSheet_;
  cloud::UpdateServices updateServices_;
  AppUpdateHost updateHost_;
  // Made on the first check, once the process' HTTP layer and runtime exist.
  std::unique_ptr<cloud::AppUpdate> appUpdate_;

  std::unique_ptr<device::OrvexQXServer> qxServer_;
  std::shared_ptr<ConnectionRoad> road_;
  std::function<std::shared_ptr<DepthManagerControl>()> makeDepthManager_;
  std::shared_ptr<DepthManagerControl> depthManager_;
  GlassVolumeControl* volume_ = nullptr;
  BuiltinBrightnessDimmer* dimmer_ = nullptr;
  std::function<void()> showConnectTips_;
  std::function<void()> resetUpdateView_;
  std::vector<Subscription> observers_;
  // The launch's un-mirroring (main queue).
  dispatch::DelayedTask unmirrorRetry_;
  dispatch::Nanos unmirrorWaited_{0};
  bool unmirrorNoticeShown_ = false;
  bool monitoringStarted_ = false;
  // Tasks the launch posted check it before they run.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::shared_ptr<cloud::Login> account_;
  BrightnessControl* brightness_ = nullptr;
  std::function<void()> installMediaKeyMonitors_;
  std::function<void()> sleepObserverFactory_;
  std::function<FilterTuning*()> filterTuningSource_;
  std::function<std::string()> glassNameSource_;
};

// The process-wide delegate, set as the first step of launch.
extern AppDelegate* appDelegate;

}  // namespace vistrelle
