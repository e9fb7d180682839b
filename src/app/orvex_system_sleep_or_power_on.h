#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "app/sleep_wake_window_seam.h"
#include "platform/bus/bus.h"
#include "platform/bus/bus_connector.h"
#include "platform/dispatch/executor.h"
#include "platform/dispatch/stop_registration.h"
#include "platform/dispatch/timer_source.h"
#include "platform/screenpower/screen_power_source.h"

namespace vistrelle {

// Follows screen lock, screen sleep and system sleep, keeps the sleep flags,
// and stops and restarts the AI-3D capture around them:
//
//   screen locked / unlocked     logind's LockedHint of our session (system
//                                bus), the screen saver's ActiveChanged
//                                (session bus)          isSleep = locked
//   screens went dark            DPMS left On           capture stopped when
//                                                       the window is up;
//                                                       isSleep = true
//   system about to sleep        PrepareForSleep(true)  isDeepSleep = isSleep = true
//   screens lit again / system   DPMS back to On,       isSleep = isDeepSleep = false;
//   woke                         PrepareForSleep(false) handleWake(false)
//
// X11 announces no DPMS change, so the state is asked every 1.5 s off the
// main thread; a server without DPMS gives no screen events.  Handlers and
// flags live on the main queue.  A bus or server that is missing leaves
// only its own observers out.
class OrvexSystemSleepOrPowerOn : public std::enable_shared_from_this<OrvexSystemSleepOrPowerOn> {
 public:
  using LogSink = std::function<void(std::string_view)>;

  struct Options {
    std::shared_ptr<bus::BusConnector> buses;  // default: the process' buses (sd-bus)
    dispatch::ExecutorPtr mainQueue;           // default: the runtime's main queue
    std::shared_ptr<screenpower::ScreenPowerSource> screenPower;  // default: DPMS on $DISPLAY
    dispatch::ExecutorPtr pollQueue;  // where DPMS is asked; default: a serial queue
    dispatch::Nanos pollInterval = std::chrono::milliseconds(1500);
    LogSink print;  // console lines; default: standard output
    LogSink log;    // an observer that could not be set up; default: the text log
  };

  // `init`: the flags, then the observers.
  static std::shared_ptr<OrvexSystemSleepOrPowerOn> create(Options options);
  // The process' instance, made at first use (thread-safe) with the defaults.
  static OrvexSystemSleepOrPowerOn& shared();

  ~OrvexSystemSleepOrPowerOn();
  OrvexSystemSleepOrPowerOn(const OrvexSystemSleepOrPowerOn&) = delete;
  OrvexSystemSleepOrPowerOn& operator=(const OrvexSystemSleepOrPowerOn&) = delete;

  bool isSleep() const { return isSleep_.load(); }
  bool isDeepSleep() const { return isDeepSleep_.load(); }
  // A sleep-prevention hold: nothing takes one, so the teardown's release
  // never runs in practice.
  uint32_t assertionID() const { return assertionID_; }
  bool isPreventingSleep() const { return isPreventingSleep_; }

  void setWindowSeam(std::shared_ptr<SleepWakeWindowSeam> seam);

  // Callable by name; no observer is connected to them.
  void sleepNotification();
  void wakeNotification();
  void systemDidWake();

  // The observers' actions (main queue).
  void screenLockChanged(bool locked);
  void screensDidSleep();
  void systemWillSleep();
  void screensDidWake();

 private:
  explicit OrvexSystemSleepOrPowerOn(Options options);
  void start();
  void watchSystemBus();
  void watchSessionLock(const std::string& sessionPath);
  void watchScreenSaver();
  void startScreenPowerPoll();
  void stopScreenPowerPoll();
  void onScreenPower(std::optional<bool> on);  // main queue
  std::shared_ptr<SleepWakeWindowSeam> seam() const;

  Options options_;
  std::atomic<bool> isSleep_{false};
  std::atomic<bool> isDeepSleep_{false};
  uint32_t assertionID_ = 0;
  bool isPreventingSleep_ = false;

  mutable std::mutex mutex_;
  std::shared_ptr<SleepWakeWindowSeam> seam_;
  std::shared_ptr<bus::Bus> systemBus_;
  std::shared_ptr<bus::Bus> sessionBus_;
  bus::BusSubscription prepareForSleep_;
  bus::BusSubscription lockedHint_;
  bus::BusSubscription screenSaver_;
  dispatch::TimerSourcePtr poll_;
  // The poll ends with the runtime's stops, before the queues do.
  dispatch::StopRegistration pollStop_;

  // Main queue only.
  std::optional<bool> screensOn_;
};

}  // namespace vistrelle
