#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "platform/dispatch/monitor_loop.h"
#include "device/monitors/serial_device.h"
#include "platform/notify/notification_center.h"
#include "platform/serial/serial_port_enumerator.h"

namespace vistrelle {

// Polls the serial ports and announces, by path, those that disappeared
// ("SerialDeviceRemoved") and then those that appeared ("SerialDeviceAdded"),
// each with the object {"device": record}.  Everything, observers included,
// runs on the thread that called start().
class SerialDeviceMonitor {
 public:
  static constexpr const char* kAdded = "SerialDeviceAdded";
  static constexpr const char* kRemoved = "SerialDeviceRemoved";
  static constexpr float kDefaultInterval = 0.25f;
  // Longest wait between polls, in seconds (a day).
  static constexpr float kMaxInterval = 86400.0f;

  using Filter = std::function<std::vector<SerialDevice>(const std::vector<SerialDevice>&)>;
  using LogSink = std::function<void(std::string_view)>;

  struct Options {
    std::shared_ptr<serial::SerialPortEnumerator> enumerator;  // default: libudev
    NotificationCenter* center = nullptr;                      // default: the default centre
    LogSink log;                                               // default: OrvexLog
  };

  SerialDeviceMonitor();
  explicit SerialDeviceMonitor(Options options);
  // Stops a running start() and waits for it to return.
  ~SerialDeviceMonitor();
  SerialDeviceMonitor(const SerialDeviceMonitor&) = delete;
  SerialDeviceMonitor& operator=(const SerialDeviceMonitor&) = delete;

  // The ports seen at the last poll.
  std::vector<SerialDevice> serialDevices() const;
  void setSerialDevices(std::vector<SerialDevice> devices);
  // Seconds between polls; a negative or non-finite value waits the default,
  // one beyond kMaxInterval waits kMaxInterval.
  float portUsageIntervalTime() const;
  void setPortUsageIntervalTime(float seconds);
  // The wait between polls for an interval setting, by the rule above.
  static dispatch::Nanos waitBetweenPolls(float seconds);
  // Applied to every poll's list before it is compared; empty means none.
  Filter filterDevices() const;
  void setFilterDevices(Filter filter);

  // Polls, then waits the interval, until stop().  Throws std::logic_error
  // when already running.
  void start();
  // From any thread; a stop before start() makes the next start() return
  // after its first poll.
  void stop();

  // One poll: list the ports and announce the differences.  A failed listing
  // is logged and changes nothing.
  void poll();
  // The second half of a poll, on a list already made.
  void handlePorts(std::vector<SerialDevice> ports);

 private:
  std::shared_ptr<serial::SerialPortEnumerator> enumerator_;
  NotificationCenter* center_;
  LogSink log_;

  mutable std::mutex mutex_;  // the three fields below
  std::vector<SerialDevice> serialDevices_;
  float portUsageIntervalTime_ = kDefaultInterval;
  Filter filterDevices_;

  dispatch::MonitorLoop loop_;
};

}  // namespace vistrelle
