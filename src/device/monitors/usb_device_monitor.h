#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dispatch/monitor_loop.h"
#include "device/monitors/usb_device.h"
#include "device/monitors/usb_monitor_data.h"
#include "platform/dispatch/executor.h"
#include "platform/notify/notification_center.h"
#include "platform/usb/usb_backend.h"

namespace vistrelle {

// Watches for USB devices with the given vendor and product ids, opens each
// one that arrives and announces arrivals ("USBDeviceConnected", object
// {"device": record}) and removals ("USBDeviceDisconnected", object {"id"}).
// Each watched pair has its own subscription and its own serial queue
// "IODetector"; the handlers, and so the observers, run there.
//
// The opened handle of an arrival belongs to whoever claims it with
// claimDevice(); once claimed the monitor never touches it again.  Handles
// nobody claimed are closed when their device goes away or the monitor dies.
class USBDeviceMonitor {
 public:
  static constexpr const char* kQueueLabel = "IODetector";
  static constexpr const char* kConnected = "USBDeviceConnected";
  static constexpr const char* kDisconnected = "USBDeviceDisconnected";

  using QueueFactory = std::function<dispatch::ExecutorPtr(const std::string& label)>;
  using LogSink = std::function<void(std::string_view)>;

  struct Options {
    std::shared_ptr<usb::UsbBackend> backend;  // default: libudev and libusb
    NotificationCenter* center = nullptr;      // default: the default centre
    QueueFactory makeQueue;                    // default: the runtime's serial queues
    LogSink log;                               // default: OrvexLog
  };

  explicit USBDeviceMonitor(std::vector<USBMonitorData> matches);
  USBDeviceMonitor(std::vector<USBMonitorData> matches, Options options);
  // Stops a running start() and waits for it to return.
  ~USBDeviceMonitor();
  USBDeviceMonitor(const USBDeviceMonitor&) = delete;
  USBDeviceMonitor& operator=(const USBDeviceMonitor&) = delete;

  const std::vector<USBMonitorData>& deviceMatches() const { return deviceMatches_; }

  // Subscribes every pair, announces the matching devices present, then
  // handles plug events on the calling thread until stop().  Returns only
  // after every handler it queued has run.  Throws usb::UsbError when a
  // subscription fails, std::logic_error when already running.
  void start();
  // From any thread; a stop before start() makes the next start() return at once.
  void stop();

  // The record of a "USBDeviceConnected" object's "device", with its opened
  // handle, which the caller now owns.  The handle can be claimed once; a
  // later claim, or one for a device already gone, gives the record without
  // it.  None when the value is no device record.
  std::optional<USBDevice> claimDevice(const Value& device);

  // Handles still waiting for a claim.
  size_t unclaimedHandles() const;

  struct Shared;

 private:
  std::vector<USBMonitorData> deviceMatches_;
  std::shared_ptr<Shared> shared_;
  QueueFactory makeQueue_;
  dispatch::MonitorLoop loop_;
};

}  // namespace vistrelle
