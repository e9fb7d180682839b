#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "device/hid/hid_device.h"
#include "device/monitors/usb_monitor_data.h"
#include "device/protocol/glass_report.h"
#include "platform/dispatch/monitor_loop.h"
#include "platform/hid/hid_backend.h"
#include "platform/notify/notification_center.h"

namespace vistrelle::device {

// Watches the HID devices of the `vp` table, receives their input reports and
// reports arrivals and removals.  start() runs everything on the calling
// thread (the command layer's dedicated thread) until stop(): matching,
// removal and input handlers, the parser and the closures all run there, one
// at a time.
//
// Arrival of a matching node: it is opened (a node that cannot be opened is
// logged and not reported; no permission is also shown to the user once),
// then "HIDDeviceConnected" {"device": token} is posted, the monitor's
// generation follows the table's rule, and `devicePlugIn` is called.
// Removal (the node hangs up, fails, or the system announces it; whichever
// comes first): the node is detached so no write reaches it any more,
// "HIDDeviceDisconnected" {"device": token} is posted and `devicePullOut` is
// called.  A node present at start is reported once.
//
// Input report: "HIDDeviceDataReceived" {"data": the bytes} while anyone
// observes it; nothing more for a wake device or the boot loader (whose
// replies are not glasses reports); otherwise the report is parsed with the
// generation its sender got at arrival and the results delivered (version
// notification, or `readCallBack`).
class HIDDeviceMonitor {
 public:
  static constexpr const char* kConnected = "HIDDeviceConnected";
  static constexpr const char* kDisconnected = "HIDDeviceDisconnected";
  static constexpr const char* kDataReceived = "HIDDeviceDataReceived";
  static constexpr const char* kNoPermissionText = "无法访问 %s：请安装 udev 规则后重新插入眼镜";

  using DeviceCallback = std::function<void(const HIDDevice&)>;
  using ReadCallBack = GlassReport::ReadCallBack;
  using LogSink = std::function<void(std::string_view)>;

  struct Options {
    std::shared_ptr<hid::HidBackend> backend;  // default: the process' back-end
    NotificationCenter* center = nullptr;      // default: the default centre
    GlassReport* parser = nullptr;             // default: GlassReport::shared()
    LogSink log;                               // default: OrvexLog
    // Shows a text to the user; default: the transient message (toast).
    std::function<void(const std::string&)> showMessage;
  };

  HIDDeviceMonitor(std::vector<USBMonitorData> vp, int64_t reportSize);
  HIDDeviceMonitor(std::vector<USBMonitorData> vp, int64_t reportSize, Options options);
  // Stops a running start() and waits for it to return.
  ~HIDDeviceMonitor();
  HIDDeviceMonitor(const HIDDeviceMonitor&) = delete;
  HIDDeviceMonitor& operator=(const HIDDeviceMonitor&) = delete;

  const std::vector<USBMonitorData>& vp() const { return vp_; }
  int64_t reportSize() const { return reportSize_; }

  // The closures are installed before start(); installing one while it runs
  // throws std::logic_error.
  void setDevicePlugIn(DeviceCallback callback);
  void setDevicePullOut(DeviceCallback callback);
  void setReadCallBack(ReadCallBack callback);

  // The generation of the last glasses that matched (1 at creation).
  int32_t glassGeneration() const { return glassGeneration_.load(std::memory_order_acquire); }
  void setGlassGeneration(int32_t generation) {
    glassGeneration_.store(generation, std::memory_order_release);
  }

  // Runs the monitor on the calling thread until stop(); a stop that came
  // first makes it return at once.  When the system's devices cannot be
  // watched it logs why and reports nothing until stopped.  On return every
  // node it opened is detached.  Throws std::logic_error when already running.
  void start();
  // From any thread.
  void stop();
  bool running() const { return running_.load(std::memory_order_acquire); }

  struct Registered;

 private:
  void run();
  void arrived(const hid::HidDeviceInfo& info);
  void removed(const std::string& path);
  void readReports(const std::shared_ptr<Registered>& device);
  void handleInput(const Registered& device, std::span<const uint8_t> report);
  bool matches(uint16_t vendorId, uint16_t productId) const;
  void requireStopped() const;

  const std::vector<USBMonitorData> vp_;
  const int64_t reportSize_;
  std::shared_ptr<hid::HidBackend> backend_;
  NotificationCenter& center_;
  GlassReport& parser_;
  LogSink log_;
  std::function<void(const std::string&)> showMessage_;
  DeviceCallback devicePlugIn_;
  DeviceCallback devicePullOut_;
  ReadCallBack readCallBack_;
  std::atomic<int32_t> glassGeneration_{1};
  std::atomic<bool> running_{false};
  bool permissionShown_ = false;                      // the monitor thread only
  std::vector<std::shared_ptr<Registered>> devices_;  // the monitor thread only
  size_t devicesVersion_ = 0;                         // bumped when devices_ changes
  dispatch::MonitorLoop loop_;
};

}  // namespace vistrelle::device
