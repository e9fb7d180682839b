#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/app_window.h"
#include "platform/dispatch/main_queue.h"
#include "platform/settings/user_defaults.h"
#include "platform/statusbar/status_item.h"

namespace vistrelle {

// What the delegate is given by the process entry: the main queue, the
// settings store, the status item and a way to make the main window.
struct AppServices {
  std::shared_ptr<dispatch::MainQueue> mainQueue;
  UserDefaults* defaults = nullptr;
  StatusItem* statusItem = nullptr;
  std::function<std::unique_ptr<AppWindow>()> makeWindow;
  // Debug prints (standard output by default).
  std::function<void(const std::string&)> trace;
};

// The application's spine: it runs the launch, holds the main state every
// subsystem reads, and owns the one exit road.  Lives for the whole process.
class AppDelegate {
 public:
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

  // Every termination road ends here: the Quit entry, the window's close
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
  void setupStatusItem();
  bool getCPUTypeIsARM() const;
  bool checkisChinaSimplified() const;

  AppWindow* window() const { return window_.get(); }
  int exitCleanupRuns() const { return exitCleanupRuns_.load(); }

  // Main state (plain fields, as other subsystems read them).
  int mouseClick = 0;
  std::atomic<bool> glassStatus{false};
  bool isOpen3D = true;
  bool isCPUARM = false;
  int modelType = 0;
  int volumeLevel = 3;
  float volumeValue_V2 = 0;
  bool isSoundOff = false;
  std::string glassVersion = "V-1.0";
  uint32_t glassDisplayID = 0;
  uint32_t builtinDisplayID = 0;
  int glassDisplayStatus = 1;
  std::string checkVolumeVersion_V1 = "ORVEX_FW_V1.30";
  std::string dfuUpdateVersion_V2 = "ORVEX2_FW_V1.63";
  std::string dfuUpdateVersion_V2Pro = "ORVEX2PRO_FW_V1.49";
  bool isDfuUpdate = false;
  bool isDfuUpdateStart = false;
  int privacyScreenLockButtonState = 0;
  float defaultBrightness = 0;
  bool isCloseIMU = false;
  std::atomic<bool> isExit{false};
  std::string showHomeTimerIdentification;
  float depthValue = 0.01f;
  bool isOverseas = false;
  double changeVolumeTime = 0;
  std::string timerInv;

 private:
  AppServices services_;
  std::unique_ptr<AppWindow> window_;
  std::atomic<bool> terminating_{false};
  std::atomic<int> exitCleanupRuns_{0};
};

// The process-wide delegate, set as the first step of launch.
extern AppDelegate* appDelegate;

}  // namespace vistrelle
