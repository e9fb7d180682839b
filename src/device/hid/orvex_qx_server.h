#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "base/state/main_state.h"
#include "device/hid/glasses_display_port.h"
#include "device/hid/hid_device.h"
#include "device/hid/hid_device_monitor.h"
#include "device/hid/rf_device.h"
#include "device/protocol/glass_command_report.h"
#include "device/protocol/glass_report.h"
#include "device/protocol/immersion_store.h"
#include "platform/dispatch/executor.h"
#include "platform/dispatch/stop_registration.h"
#include "platform/notify/notification_center.h"
#include "platform/settings/user_defaults.h"

namespace vistrelle::device {

// The one object through which the application talks to the glasses.  It
// owns the HID monitor and its thread, decides which attached device counts
// as the current glasses (the first one; a second is ignored), publishes
// plug-in and removal, and offers one operation per glasses command.
//
// Commands may be called from any thread.  The current device sits behind
// one lock: each command takes a snapshot of it and writes through that
// snapshot's transport, and writes to one device are serialised.  When the
// glasses go, their transport is detached before the removal is published,
// so a command that raced with the unplug fails (-ENODEV) instead of writing
// to whatever reused the node.  Results: 0 success, -1 no glasses or a
// command their generation does not take, another negative errno when the
// write failed.
//
// Plug-in and removal run on the monitor's thread.  The command layer that
// publishes the connection is the only writer of MainState's glassStatus:
// it is set before the status notification is posted, so an observer of the
// post reads it already.  connectionEpoch() moves at each plug-in and
// removal of the current glasses, for callers that must drop work started
// for an earlier connection.
class OrvexQXServer : public ImmersionStore {
 public:
  static constexpr const char* kStatusChange =
      "ORVEX_Glass_Display_StatusChange_NSNotificationName";
  static constexpr const char* kWakeChange = "cn.com.qx.orvexForMac_WakeyChange_NSNotificationName";
  static constexpr const char* kDefaultGlassName = "ORVEX Glass";
  static constexpr int32_t kDefaultImmersion = 76;
  static constexpr int64_t kMonitorReportSize = 64;
  static constexpr int kNarrowWidth = 1920;
  static constexpr int kWideWidth = 3840;

  using DeviceChangeBlock = std::function<void(const Value::Map&, bool)>;
  using ReadCallBack = GlassReport::ReadCallBack;
  using LogSink = std::function<void(std::string_view)>;
  using Completion = std::function<void(bool)>;

  // How long the glasses' screen is given to follow a 3D switch before its
  // resolution is changed: the 3840 switch waits longer on an Intel host.
  struct ResolutionDelays {
    dispatch::Nanos narrow = std::chrono::seconds(2);
    dispatch::Nanos wideArm = std::chrono::seconds(2);
    dispatch::Nanos wideIntel = std::chrono::seconds(5);
  };

  struct Options {
    // Publishes the connection: MainState's glassStatus and isCloseIMU, the
    // connection epoch, the status and wake notifications.  The USB-service
    // facade's own command layer does not, so starting it never doubles them.
    bool publishesConnection = true;
    std::shared_ptr<hid::HidBackend> backend;  // default: the process' back-end
    NotificationCenter* center = nullptr;      // default: the default centre
    GlassReport* parser = nullptr;             // default: GlassReport::shared()
    MainState* state = nullptr;                // default: MainState::shared()
    UserDefaults* defaults = nullptr;          // default: UserDefaults::standard()
    dispatch::ExecutorPtr mainQueue;           // default: the runtime's main queue
    ResolutionDelays delays;
    LogSink print;                  // console lines; default: standard output
    LogSink trace;                  // debug traces; default: standard output in debug builds only
    HIDDeviceMonitor::LogSink log;  // the monitor's log; default: OrvexLog
    std::function<void(const std::string&)> showMessage;  // the monitor's notice
  };

  OrvexQXServer();
  explicit OrvexQXServer(Options options);
  // Stops the monitor thread first, then lets go of what the thread used.
  ~OrvexQXServer() override;
  OrvexQXServer(const OrvexQXServer&) = delete;
  OrvexQXServer& operator=(const OrvexQXServer&) = delete;

  // Installs the monitor's closures and starts its thread (the first call
  // only), registering its stop with the runtime when one is installed.  When the parser has no
  // immersion store yet, this becomes it: the glasses' own immersion changes are stored here.
  void shareManager();
  // Stops the monitor and joins its thread; every device is detached.
  // Idempotent; from the monitor's own thread it only asks it to stop.
  void stop();

  // Commands (see the table in glass_commands.h for their bytes).
  int32_t start_display_3d();
  int32_t stop_display_3d();
  // Switches the glasses to 3D (on) or 2D and then, after a delay, the
  // glasses' screen to 3840 or 1920 wide.  While that resolution change is
  // pending, a further switch answers 0 and sends nothing.
  int32_t change_display_3d(bool on);
  int32_t setDuty(int32_t duty);  // 0-255, else -1
  int32_t change_display_volume(int32_t level);
  int32_t getOrvexGlassFirmwareVersion();
  int32_t changeIMUWithGlass(bool isClose);
  int32_t getIMUOffSetNew();
  int32_t setUserImuTempBias(int32_t index, float temperature, float x, float y, float z);
  void getFactoryImuTempBias(uint32_t index, int32_t kind);
  void getAllFactoryImuTempBias() {}
  int32_t enterDfu();
  int32_t setImmersion(int32_t value, bool isFirst);
  int32_t getLightSensorWearInfo();
  int32_t setLightSensorWearDetection(bool close);

  // The immersion setting: 76 (stored) when there is none.
  int32_t getImmersion();
  void changeImmersion(int32_t value) override;

  // Calls `completion` (on the calling thread) with whether the glasses need
  // a firmware update: connected, and older than the image carried for their
  // model, or in the boot loader.
  void checkNeedDfuUpdate(const Completion& completion);

  // The glasses' screen follows a 3D switch: after the delay, on the main
  // queue, changeGlassScreenResolution.  Nothing (and no completion) when a
  // change is pending already.
  void deviceChangeResolution(bool isBig, Completion completion);
  void changeGlassScreenResolution(bool isBig, Completion completion);
  void setDisplayPort(std::shared_ptr<GlassesDisplayPort> port);
  // False while a resolution change after a 3D switch is pending.
  bool isSuccessChangeResolution() const { return resolutionReady_->load(); }

  // Moves at each plug-in and removal of the current glasses.
  uint64_t connectionEpoch() const { return epoch_.load(std::memory_order_acquire); }
  // For the exit: the 2D command on a fresh transport to the current glasses,
  // whatever is pending; schedules nothing.  The write's result, -1 without
  // glasses.
  int32_t switchTo2DForExit();

  // Snapshots of the current state.
  std::optional<HIDDevice> ioHidDevice() const;
  std::shared_ptr<RFDevice> connectedDevice() const;
  std::shared_ptr<RFDevice> hubDevice() const;
  std::optional<HIDDevice> hubHidDevice() const;
  void setConnectedDevice(std::shared_ptr<RFDevice> device);
  // connectedDevice = a new transport over the current glasses; false (and
  // nothing changed) without glasses.
  bool refreshConnectedDevice();

  int32_t glassGeneration() const;
  void setGlassGeneration(int32_t generation);
  std::string glassName() const;

  void setReadCallBack(ReadCallBack callback);
  // Kept for the USB-service facade, which installs it; nothing calls it.
  void setMyDeviceChangeBlock(DeviceChangeBlock block);
  DeviceChangeBlock myDeviceChangeBlock() const;

  HIDDeviceMonitor& rfDeviceMonitor() { return *rfDeviceMonitor_; }
  bool publishesConnection() const { return options_.publishesConnection; }

  struct Liveness;

 private:
  enum class Needs { Device, SecondGeneration };

  void devicePlugIn(const HIDDevice& device);
  void devicePullOut(const HIDDevice& device);
  // Steps 1-3 of every command but the 3D switch: the precondition, a fresh
  // transport, the report.
  int32_t sendCommand(Needs needs, const std::function<int32_t(GlassCommandReport&)>& build,
                      std::shared_ptr<RFDevice>* used = nullptr);
  int32_t write(const RFDevice& transport, const GlassCommandReport& report);
  void printBiasOrDfuLine(const std::shared_ptr<RFDevice>& used, const char* text, int32_t result);
  dispatch::ExecutorPtr mainQueue();

  Options options_;
  NotificationCenter& center_;
  GlassReport& parser_;
  MainState& state_;
  UserDefaults& defaults_;

  mutable std::mutex mutex_;  // the connection below
  std::optional<HIDDevice> ioHidDevice_;
  std::shared_ptr<RFDevice> connectedDevice_;
  std::shared_ptr<RFDevice> hubDevice_;
  std::optional<HIDDevice> hubHidDevice_;
  int32_t glassGeneration_ = 1;
  std::string glassName_ = kDefaultGlassName;
  std::shared_ptr<GlassesDisplayPort> displayPort_;
  std::shared_ptr<const ReadCallBack> readCallBack_;
  DeviceChangeBlock myDeviceChangeBlock_;

  std::atomic<uint64_t> epoch_{0};
  // Shared with the completions handed to the display layer, which may
  // outlive this object.
  std::shared_ptr<std::atomic<bool>> resolutionReady_ = std::make_shared<std::atomic<bool>>(true);
  std::mutex switchMutex_;  // one 3D switch at a time
  std::shared_ptr<Liveness> liveness_;

  std::mutex startMutex_;
  bool started_ = false;
  std::shared_ptr<ImmersionStore> ownStore_;
  std::unique_ptr<HIDDeviceMonitor> rfDeviceMonitor_;
  std::thread rfDeviceDaemon_;
  dispatch::StopRegistration stopRegistration_;
};

}  // namespace vistrelle::device
