#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/display_reconfiguration.h"
#include "app/home_view.h"
#include "platform/dispatch/executor.h"
#include "platform/notify/notification_center.h"

namespace vistrelle {

class AppDelegate;
class GCXTimer;

namespace device {
class DisplayConfiguration;
}

// The main window's first content: a tip to plug the glasses in, a
// "connecting" state and an error state when the 3D window failed to open;
// when it opened, the settings panel takes the window.  Its view's first
// showing also starts three duties of the process: the display-change
// callback, the sleep and screen-lock observer, and the wait for the
// permissions that installs the media-key monitors.  Main thread only.
class OrvexHomeNewViewController {
 public:
  static constexpr const char* kStatusChange =
      "ORVEX_Glass_Display_StatusChange_NSNotificationName";
  static constexpr const char* kAI3DResult = "ORVEX_Glass_Display_StatusChange_SuccessOrError";
  static constexpr const char* kBackground = "#ECEDEE";
  static constexpr double kPermissionFirstCheck = 0.5;
  static constexpr double kPermissionInterval = 5;

  struct Environment {
    AppDelegate* delegate = nullptr;                   // required; outlives the controller
    device::DisplayConfiguration* displays = nullptr;  // default: the shared one
    NotificationCenter* center = nullptr;              // default: the default centre
    dispatch::ExecutorPtr mainQueue;                   // default: the runtime's main queue
    GCXTimer* timer = nullptr;                         // default: the shared registry
    // Screen capture is possible (an X11 session); default: the USB-service
    // facade's answer.
    std::function<bool()> canRecordScreen;
    // Makes the shared companion-application server, which starts
    // listening; default: OrvexLocalServer::shareManager().
    std::function<void()> startCompanionServer;
    // Puts the pointer at a desktop position; none: the pointer stays.
    std::function<void(int x, int y)> moveCursor;
    // Registers the display-change callback for the life of the process;
    // none: no display events.
    std::function<void(DisplayReconfigurationCallback)> registerDisplayCallback;
  };

  OrvexHomeNewViewController(HomeView& view, Environment environment);
  ~OrvexHomeNewViewController();
  OrvexHomeNewViewController(const OrvexHomeNewViewController&) = delete;
  OrvexHomeNewViewController& operator=(const OrvexHomeNewViewController&) = delete;

  // The first time the view shows; later calls do nothing.
  void viewDidLoad();
  bool isViewLoaded() const { return loaded_; }

  void setupUI();
  void addObservers();
  void showTipState();
  void showConnectingState();
  void showErrorState();

  // The display-change callback.  The first matching rule decides: an added
  // display on a desktop host with two or more online may be the glasses
  // (plug status 1); a removed one leaving one online unplugged them (0); a
  // mode or main-display change centres the pointer on the display.
  void displayReconfigured(uint32_t displayId, uint32_t flags);

  // Id of the permission task; empty once it has ended (or was refused).
  const std::string& checkAccessibilityTimer() const { return checkAccessibilityTimer_; }

 private:
  void glassDisplayStatusChanged(const Notification& notification);
  void ai3DResult(const Notification& notification);
  void checkPermissions();

  HomeView& view_;
  Environment env_;
  bool loaded_ = false;
  bool monitorsInstalled_ = false;
  std::string checkAccessibilityTimer_;
  Subscription plugStatus_;
  Subscription ai3DStatus_;
};

}  // namespace vistrelle
