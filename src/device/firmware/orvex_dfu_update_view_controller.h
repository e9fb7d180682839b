#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "base/state/main_state.h"
#include "base/timer/gcx_timer.h"
#include "device/firmware/dfu_glasses_port.h"
#include "device/firmware/dfu_update_view.h"
#include "platform/dispatch/executor.h"
#include "platform/notify/notification_center.h"

namespace vistrelle::device {

// The firmware-update window's logic, without the widgets (DfuUpdateView).
// Its states: ready (after viewDidLoad and resetUpdateView), upgrading (after
// the click: progress shown, button hidden), succeeded (no button) and
// failed (a "重试" button that starts the click's road again).
//
// Everything here runs on the main queue, the notifications' handlers
// included; the driver runs on a thread of its own, which the controller
// joins before it starts another and when it goes.
class OrvexDFUUpdateViewController {
 public:
  static constexpr const char* kImageUpdate = "update-dfu";
  static constexpr const char* kImageSuccess = "update-dfu-success";
  static constexpr const char* kImageFailed = "update-dfu-failed";
  static constexpr double kBootLoaderDelaySeconds = 1.25;
  static constexpr double kPollSeconds = 0.25;
  static constexpr int kMaxPolls = 20;
  static constexpr uint16_t kBootLoaderVendorId = 0x0416;
  static constexpr uint16_t kBootLoaderProductId = 0x3F00;

  struct Dependencies {
    std::shared_ptr<DfuGlassesPort> glasses;  // required
    NotificationCenter* center = nullptr;     // default: the default centre
    MainState* state = nullptr;               // default: MainState::shared()
    dispatch::ExecutorPtr mainQueue;          // default: the runtime's main queue
    GCXTimer* timer = nullptr;                // default: GCXTimer::shared()
    // The update itself, on the controller's thread: 0 or -1.  Default: the
    // process' DfuUpdateDriver.
    std::function<int()> runUpdate;
    // The window's texts in the in-app language.  Default: LanguageBundle.
    std::function<std::string(std::string_view)> localize;
  };

  OrvexDFUUpdateViewController(DfuUpdateView& view, Dependencies dependencies);
  virtual ~OrvexDFUUpdateViewController();
  OrvexDFUUpdateViewController(const OrvexDFUUpdateViewController&) = delete;
  OrvexDFUUpdateViewController& operator=(const OrvexDFUUpdateViewController&) = delete;

  // The view's widgets exist: the initial state, and the notifications
  // observed on the main queue.
  void viewDidLoad();
  bool isViewLoaded() const { return loaded_; }

  virtual void setTipsText(const std::string& text);
  virtual void resetUpdateView();
  virtual void updateButtonClick();
  virtual void removeObservers();

  void onVersionShow(const Value& model);
  void onProgress(const Value& percent);
  void onStatus(const Value& success);
  void showUpdateResult(bool success);

 private:
  void waitForIspAndUpdate();
  void endWait();
  void runUpdateOnItsThread();
  void postFailure();
  std::string text(std::string_view key) const;

  DfuUpdateView& view_;
  Dependencies deps_;
  NotificationCenter& center_;
  MainState& state_;
  GCXTimer& timer_;
  bool loaded_ = false;
  Subscription versionShowObserver_;
  Subscription progressObserver_;
  Subscription statusObserver_;
  std::string waitTask_;
  int polls_ = 0;
  std::thread update_;
  // Dropped first when the controller goes: work it posted checks it.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace vistrelle::device
