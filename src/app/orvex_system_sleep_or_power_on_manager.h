#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

#include "platform/bus/bus.h"
#include "platform/bus/bus_connector.h"
#include "platform/dispatch/executor.h"

namespace vistrelle {

// A second sleep observer on logind, kept for the code that will use it:
// nothing in the application starts it.  It holds a delay lock on system
// sleep, so that logind waits for it: when sleep is announced it says so on
// the console and lets go of the lock (the sleep may go on); after the wake
// it says so twice and takes a new lock for the next sleep.  The console
// lines carry the power-message numbers the application has always printed.
class OrvexSystemSleepOrPowerOnManager
    : public std::enable_shared_from_this<OrvexSystemSleepOrPowerOnManager> {
 public:
  static constexpr uint32_t kCanSystemSleep = 0xE0000270;
  static constexpr uint32_t kSystemWillSleep = 0xE0000280;
  static constexpr uint32_t kSystemWillPowerOn = 0xE0000320;
  static constexpr uint32_t kSystemHasPoweredOn = 0xE0000300;

  using LogSink = std::function<void(std::string_view)>;

  struct Options {
    std::shared_ptr<bus::BusConnector> buses;  // default: the process' buses (sd-bus)
    dispatch::ExecutorPtr queue;               // the callback's queue; default: the main queue
    LogSink print;                             // console lines; default: standard output
  };

  static std::shared_ptr<OrvexSystemSleepOrPowerOnManager> create(Options options);
  // The process' instance: made, and createSystemSleepOrPowerOn called, at
  // first use.
  static OrvexSystemSleepOrPowerOnManager& shareManager();

  ~OrvexSystemSleepOrPowerOnManager();

  // Follows logind's sleep announcements and takes the delay lock; prints
  // "IORegisterForSystemPower success" or "IORegisterForSystemPower failed".
  // Returns at once: the bus delivers the announcements.
  bool createSystemSleepOrPowerOn();
  // Stops following them and lets go of the lock.
  void remove();
  bool holdsInhibitor() const;

  // One power message, as the announcements are turned into.
  void powerCallback(uint32_t messageType, uint64_t argument);

 private:
  explicit OrvexSystemSleepOrPowerOnManager(Options options);
  void takeInhibitor();
  void allowPowerChange();

  Options options_;
  mutable std::mutex mutex_;
  std::shared_ptr<bus::Bus> bus_;
  bus::BusSubscription subscription_;
  std::optional<bus::BusValue> inhibitor_;  // the lock's descriptor
};

}  // namespace vistrelle
