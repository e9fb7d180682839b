#include "device/hid/orvex_qx_server.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <iostream>
#include <limits>

#include "base/helpers/numeric_compare.h"
#include "base/settings/settings_keys.h"
#include "device/hid/glasses_device_table.h"
#include "device/protocol/glass_commands.h"
#include "platform/dispatch/runtime.h"

namespace vistrelle::device {

// Lets a delayed main-queue task, or the parser on another monitor's thread,
// know whether this object still lives; the destructor waits for a call that
// is running.
struct OrvexQXServer::Liveness {
  std::mutex mutex;
  bool alive = true;
};

namespace {

// The immersion store the parser holds by shared_ptr, forwarding to the
// command layer while it lives.
class ImmersionForwarder : public ImmersionStore {
 public:
  ImmersionForwarder(ImmersionStore& target, std::shared_ptr<OrvexQXServer::Liveness> liveness)
      : target_(target), liveness_(std::move(liveness)) {}
  void changeImmersion(int32_t value) override;

 private:
  ImmersionStore& target_;
  std::shared_ptr<OrvexQXServer::Liveness> liveness_;
};

}  // namespace

void ImmersionForwarder::changeImmersion(int32_t value) {
  std::lock_guard lock(liveness_->mutex);
  if (liveness_->alive) target_.changeImmersion(value);
}

namespace {

constexpr const char* kPro = "ORVEX2PRO_FW_V";
constexpr const char* kSecond = "ORVEX2_FW_V";
// The command layer's buffer: the 64 report bytes and zeros after them.
constexpr size_t kCommandBufferSize = 100;

bool contains(const std::string& text, const char* part) {
  return text.find(part) != std::string::npos;
}

void printLine(std::string_view line) {
  std::cout << line << std::endl;
}

}  // namespace

OrvexQXServer::OrvexQXServer() : OrvexQXServer(Options{}) {}

OrvexQXServer::OrvexQXServer(Options options)
    : options_(std::move(options)),
      center_(options_.center ? *options_.center : NotificationCenter::defaultCenter()),
      parser_(options_.parser ? *options_.parser : GlassReport::shared()),
      state_(options_.state ? *options_.state : MainState::shared()),
      defaults_(options_.defaults ? *options_.defaults : UserDefaults::standard()),
      liveness_(std::make_shared<Liveness>()) {
  if (!options_.print) options_.print = printLine;
  if (!options_.trace) {
#ifdef NDEBUG
    options_.trace = [](std::string_view) {};
#else
    options_.trace = printLine;
#endif
  }
  HIDDeviceMonitor::Options monitor;
  monitor.backend = options_.backend;
  monitor.center = &center_;
  monitor.parser = &parser_;
  monitor.log = options_.log;
  monitor.showMessage = options_.showMessage;
  rfDeviceMonitor_ = std::make_unique<HIDDeviceMonitor>(GlassesDeviceTable::monitorData(),
                                                        kMonitorReportSize, std::move(monitor));
}

OrvexQXServer::~OrvexQXServer() {
  // Off the runtime's stop list first (waiting for it, should it be running
  // that stop right now), then stopped here.
  stopRegistration_.reset();
  stop();
  {
    std::lock_guard lock(liveness_->mutex);
    liveness_->alive = false;
  }
  // The parser outlives us: it must not keep forwarding to a dead store.
  if (ownStore_ && parser_.immersionStore() == ownStore_) parser_.setImmersionStore(nullptr);
}

void OrvexQXServer::shareManager() {
  std::lock_guard lock(startMutex_);
  if (started_) return;
  started_ = true;
  // Immersion levels the glasses report on their own are stored here, unless
  // another command layer (the application's) already keeps them.
  if (!parser_.immersionStore()) {
    ownStore_ = std::make_shared<ImmersionForwarder>(*this, liveness_);
    parser_.setImmersionStore(ownStore_);
  }
  rfDeviceMonitor_->setReadCallBack([this](float q0, float q1, float q2, float q3) {
    std::shared_ptr<const ReadCallBack> callback;
    {
      std::lock_guard guard(mutex_);
      callback = readCallBack_;
    }
    if (callback && *callback) (*callback)(q0, q1, q2, q3);
  });
  rfDeviceMonitor_->setDevicePlugIn([this](const HIDDevice& device) { devicePlugIn(device); });
  rfDeviceMonitor_->setDevicePullOut([this](const HIDDevice& device) { devicePullOut(device); });
  rfDeviceDaemon_ = std::thread([this] {
    try {
      rfDeviceMonitor_->start();
    } catch (const std::exception& error) {
      options_.print(std::string("HID monitor stopped: ") + error.what());
    }
  });
  // The process stops the monitor thread before the runtime and the objects
  // the thread reaches go away.
  if (dispatch::Runtime::installed()) {
    stopRegistration_ = dispatch::Runtime::shared().registerStop("HID monitor", [this] { stop(); });
  }
}

void OrvexQXServer::stop() {
  rfDeviceMonitor_->stop();
  std::lock_guard lock(startMutex_);
  if (rfDeviceDaemon_.joinable() && rfDeviceDaemon_.get_id() != std::this_thread::get_id()) {
    rfDeviceDaemon_.join();
  }
}

// ---- Plug-in and removal (the monitor's thread) ----

void OrvexQXServer::devicePlugIn(const HIDDevice& device) {
  const auto vendorId = static_cast<uint16_t>(device.vendorId);
  const auto productId = static_cast<uint16_t>(device.productId);
  if (GlassesDeviceTable::isWakeDevice(vendorId, productId)) {
    {
      std::lock_guard lock(mutex_);
      if (hubDevice_) return;
      hubDevice_ = std::make_shared<RFDevice>(device);
      hubHidDevice_ = device;
    }
    if (options_.publishesConnection) center_.post(kWakeChange, Value(1));
    return;
  }
  char ids[80];
  std::snprintf(ids, sizeof ids, "device 插入 = 【vid = 0x%04x, pid = 0x%04x】", vendorId,
                productId);
  options_.trace(ids);
  // Only this thread sets the current glasses, so the answer holds below.
  bool hasGlasses = false;
  {
    std::lock_guard lock(mutex_);
    hasGlasses = ioHidDevice_.has_value();
  }
  if (hasGlasses) {
    options_.trace("当前有眼镜，在插入不继续执行");
    return;
  }
  std::string name = device.name;
  if (name.empty()) {
    options_.print("获取设备名称失败.");
    name = kDefaultGlassName;
  } else {
    options_.print("获取设备名称: " + name);
  }
  if (device.versionNumber) {
    options_.print("获取设备 Version: " + *device.versionNumber);
  } else {
    options_.print("获取设备版本号失败.");
  }
  {
    std::lock_guard lock(mutex_);
    glassName_ = std::move(name);
    ioHidDevice_ = device;
    connectedDevice_ = std::make_shared<RFDevice>(device);
    glassGeneration_ = device.generation;
    if (options_.publishesConnection) epoch_.fetch_add(1, std::memory_order_acq_rel);
  }
  if (options_.publishesConnection) {
    state_.glassStatus.store(true);
    center_.post(kStatusChange, Value(1));
  }
}

void OrvexQXServer::devicePullOut(const HIDDevice& device) {
  const auto vendorId = static_cast<uint16_t>(device.vendorId);
  const auto productId = static_cast<uint16_t>(device.productId);
  if (GlassesDeviceTable::isWakeDevice(vendorId, productId)) {
    {
      std::lock_guard lock(mutex_);
      if (!hubHidDevice_ || !hubHidDevice_->isSameDevice(device)) return;
      hubDevice_.reset();
      hubHidDevice_.reset();
    }
    if (options_.publishesConnection) center_.post(kWakeChange, Value(0));
    return;
  }
  {
    std::unique_lock lock(mutex_);
    if (!ioHidDevice_ || !ioHidDevice_->isSameDevice(device)) {
      // Not the current glasses (or none are current): nothing changed.
      const std::string current = ioHidDevice_ ? ioHidDevice_->id : std::string();
      lock.unlock();
      options_.trace("拔出的不是当前眼镜哦====== " + device.id + " ====== " + current + " ");
      return;
    }
    // connectedDevice, glassName and glassGeneration stay; the transport was
    // detached by the monitor, so writes through it fail from now on.
    ioHidDevice_.reset();
    if (options_.publishesConnection) epoch_.fetch_add(1, std::memory_order_acq_rel);
  }
  if (options_.publishesConnection) {
    state_.glassStatus.store(false);
    center_.post(kStatusChange, Value(0));
  }
}

// ---- Commands ----

int32_t OrvexQXServer::write(const RFDevice& transport, const GlassCommandReport& report) {
  std::array<uint8_t, kCommandBufferSize> buffer{};
  std::copy(report.bytes().begin(), report.bytes().end(), buffer.begin());
  const int32_t result = transport.write(buffer, GlassCommandReport::kReportId);
  if (result != 0) {
    options_.trace("操作失败，错误码: " + std::to_string(result) +
                   " deviceName = " + transport.deviceInfo().name);
  }
  return result;
}

int32_t OrvexQXServer::sendCommand(Needs needs,
                                   const std::function<int32_t(GlassCommandReport&)>& build,
                                   std::shared_ptr<RFDevice>* used) {
  std::shared_ptr<RFDevice> transport;
  {
    std::lock_guard lock(mutex_);
    if (!ioHidDevice_) return -1;
    if (needs == Needs::SecondGeneration && glassGeneration_ != 2) return -1;
    transport = std::make_shared<RFDevice>(*ioHidDevice_);
    connectedDevice_ = transport;
  }
  if (used) *used = transport;
  GlassCommandReport report;
  // A report the builder refused is never sent.
  if (build(report) < 0) return -1;
  return write(*transport, report);
}

int32_t OrvexQXServer::start_display_3d() {
  if (!refreshConnectedDevice()) return -1;
  return change_display_3d(true);
}

int32_t OrvexQXServer::stop_display_3d() {
  if (!refreshConnectedDevice()) return -1;
  return change_display_3d(false);
}

int32_t OrvexQXServer::change_display_3d(bool on) {
  std::lock_guard switching(switchMutex_);
  std::shared_ptr<RFDevice> transport;
  GlassCommandReport report;
  {
    std::lock_guard lock(mutex_);
    if (!on) {
      glass_cmd_set_3d_mode(report, false);
    } else if (glassGeneration_ == 2) {
      glass_cmd_display_param(report);
    } else {
      glass_cmd_set_3d_mode(report, true);
    }
    transport = connectedDevice_;
  }
  if (!resolutionReady_->load()) return 0;
  if (!transport) return -1;
  const int32_t result = write(*transport, report);
  // The screen follows only a switch the glasses took.
  if (result == 0) {
    deviceChangeResolution(on, [ready = resolutionReady_](bool) { ready->store(true); });
  }
  return result;
}

int32_t OrvexQXServer::setDuty(int32_t duty) {
  if (duty < 0 || duty > 255) return -1;
  return sendCommand(Needs::SecondGeneration, [duty](GlassCommandReport& report) {
    return glass_cmd_set_duty(report, static_cast<uint8_t>(duty));
  });
}

int32_t OrvexQXServer::change_display_volume(int32_t level) {
  const int32_t result = sendCommand(Needs::Device, [level](GlassCommandReport& report) {
    return glass_cmd_set_volume(level, report);
  });
  options_.trace(std::to_string(kGlassCommandBuilt) + " 修改音量 level = " + std::to_string(level));
  return result;
}

int32_t OrvexQXServer::getOrvexGlassFirmwareVersion() {
  return sendCommand(Needs::Device, [](GlassCommandReport& report) {
    return glass_cmd_get_firmware_version(report);
  });
}

int32_t OrvexQXServer::changeIMUWithGlass(bool isClose) {
  const int32_t result =
      sendCommand(Needs::SecondGeneration, [this, isClose](GlassCommandReport& report) {
        if (options_.publishesConnection) state_.isCloseIMU.store(isClose);
        return glass_cmd_set_imu_enabled(report, isClose);
      });
  options_.trace(std::to_string(kGlassCommandBuilt) + " 开关imu ret = " + std::to_string(result));
  return result;
}

int32_t OrvexQXServer::getIMUOffSetNew() {
  return sendCommand(Needs::SecondGeneration,
                     [](GlassCommandReport& report) { return glass_cmd_get_imu_offset(report); });
}

int32_t OrvexQXServer::setUserImuTempBias(int32_t index, float temperature, float x, float y,
                                          float z) {
  return sendCommand(Needs::SecondGeneration, [=](GlassCommandReport& report) {
    return glass_cmd_set_user_temp_drift(report, index, temperature, x, y, z);
  });
}

void OrvexQXServer::printBiasOrDfuLine(const std::shared_ptr<RFDevice>& used, const char* text,
                                       int32_t result) {
  options_.print("device = " + (used ? used->description() : std::string("(null)")));
  options_.print(std::to_string(kGlassCommandBuilt) + text + std::to_string(result));
}

void OrvexQXServer::getFactoryImuTempBias(uint32_t index, int32_t kind) {
  std::shared_ptr<RFDevice> used;
  const int32_t result = sendCommand(
      Needs::SecondGeneration,
      [=](GlassCommandReport& report) { return glass_cmd_get_temp_drift(report, index, kind); },
      &used);
  if (used) printBiasOrDfuLine(used, " == 获取温漂 ret = ", result);
}

int32_t OrvexQXServer::enterDfu() {
  std::shared_ptr<RFDevice> used;
  const int32_t result = sendCommand(
      Needs::Device, [](GlassCommandReport& report) { return glass_cmd_enter_dfu(report); }, &used);
  if (used) printBiasOrDfuLine(used, " == 进入dfu ret = ", result);
  return result;
}

int32_t OrvexQXServer::setImmersion(int32_t value, bool isFirst) {
  if (glassGeneration() != 2) return -1;
  if (!contains(state_.glassVersion.get(), kPro)) {
    options_.trace("Unsupported set immersion");
    return 0;
  }
  if (getImmersion() == value && !isFirst) {
    options_.trace("Same transparent.");
    return 0;
  }
  return sendCommand(Needs::Device, [value](GlassCommandReport& report) {
    return glass_cmd_set_immersion(report, value);
  });
}

int32_t OrvexQXServer::getLightSensorWearInfo() {
  return sendCommand(Needs::SecondGeneration,
                     [](GlassCommandReport& report) { return glass_cmd_get_wear_info(report); });
}

int32_t OrvexQXServer::setLightSensorWearDetection(bool close) {
  return sendCommand(Needs::SecondGeneration, [close](GlassCommandReport& report) {
    return glass_cmd_set_wear_detection(report, close);
  });
}

// ---- Immersion setting ----

int32_t OrvexQXServer::getImmersion() {
  const auto stored = defaults_.integerForKey(settings_keys::kImmersionValueNumber);
  if (stored && *stored >= std::numeric_limits<int32_t>::min() &&
      *stored <= std::numeric_limits<int32_t>::max()) {
    return static_cast<int32_t>(*stored);
  }
  defaults_.setInteger(settings_keys::kImmersionValueNumber, kDefaultImmersion);
  defaults_.synchronize();
  return kDefaultImmersion;
}

void OrvexQXServer::changeImmersion(int32_t value) {
  defaults_.setInteger(settings_keys::kImmersionValueNumber, value);
  defaults_.synchronize();
}

// ---- Firmware check ----

void OrvexQXServer::checkNeedDfuUpdate(const Completion& completion) {
  std::shared_ptr<RFDevice> connected;
  int32_t generation = 0;
  {
    std::lock_guard lock(mutex_);
    connected = connectedDevice_;
    generation = glassGeneration_;
  }
  bool answer = false;
  if (generation >= 2) {
    const std::string version = state_.glassVersion.get();
    std::optional<std::string> expected;
    if (contains(version, kSecond)) {
      expected = state_.dfuUpdateVersion_V2.get();
    } else if (contains(version, kPro)) {
      expected = state_.dfuUpdateVersion_V2Pro.get();
    }
    answer = expected && base::numericCompare(version, *expected) < 0;
  }
  if (connected) {
    const HIDDevice& info = connected->deviceInfo();
    if (GlassesDeviceTable::isBootLoader(static_cast<uint16_t>(info.vendorId),
                                         static_cast<uint16_t>(info.productId))) {
      answer = true;
    }
  } else {
    answer = false;
  }
  if (completion) completion(state_.glassStatus.load() && answer);
}

// ---- Display resolution after a 3D switch ----

dispatch::ExecutorPtr OrvexQXServer::mainQueue() {
  if (options_.mainQueue) return options_.mainQueue;
  return dispatch::mainQueue();
}

void OrvexQXServer::deviceChangeResolution(bool isBig, Completion completion) {
  const dispatch::Nanos delay =
      !isBig ? options_.delays.narrow
             : (state_.isCPUARM.load() ? options_.delays.wideArm : options_.delays.wideIntel);
  // Taken here, not when the change runs: a switch the other way during the
  // delay would otherwise run first and be undone by this one.
  bool ready = true;
  if (!resolutionReady_->compare_exchange_strong(ready, false)) return;
  mainQueue()->postAfter(
      delay, [this, liveness = liveness_, isBig, completion = std::move(completion)]() mutable {
        std::lock_guard lock(liveness->mutex);
        if (!liveness->alive) return;
        changeGlassScreenResolution(isBig, std::move(completion));
      });
}

void OrvexQXServer::changeGlassScreenResolution(bool isBig, Completion completion) {
  resolutionReady_->store(false);
  // However the change ends, the next 3D switch may go.
  Completion finish = [ready = resolutionReady_, completion = std::move(completion)](bool done) {
    ready->store(true);
    if (completion) completion(done);
  };
  std::shared_ptr<GlassesDisplayPort> port;
  {
    std::lock_guard lock(mutex_);
    port = displayPort_;
  }
  const std::optional<GlassesScreen> screen = port ? port->glassesScreen() : std::nullopt;
  if (!screen) {
    finish(false);
    return;
  }
  port->resolutionSwitch(screen->displayId, isBig ? kWideWidth : kNarrowWidth, screen->height,
                         std::move(finish));
}

void OrvexQXServer::setDisplayPort(std::shared_ptr<GlassesDisplayPort> port) {
  std::lock_guard lock(mutex_);
  displayPort_ = std::move(port);
}

// ---- Seams and state ----

int32_t OrvexQXServer::switchTo2DForExit() {
  std::lock_guard switching(switchMutex_);
  std::shared_ptr<RFDevice> transport;
  {
    std::lock_guard lock(mutex_);
    if (!ioHidDevice_) return -1;
    transport = std::make_shared<RFDevice>(*ioHidDevice_);
    connectedDevice_ = transport;
  }
  GlassCommandReport report;
  glass_cmd_set_3d_mode(report, false);
  return write(*transport, report);
}

std::optional<HIDDevice> OrvexQXServer::ioHidDevice() const {
  std::lock_guard lock(mutex_);
  return ioHidDevice_;
}

std::shared_ptr<RFDevice> OrvexQXServer::connectedDevice() const {
  std::lock_guard lock(mutex_);
  return connectedDevice_;
}

std::shared_ptr<RFDevice> OrvexQXServer::hubDevice() const {
  std::lock_guard lock(mutex_);
  return hubDevice_;
}

std::optional<HIDDevice> OrvexQXServer::hubHidDevice() const {
  std::lock_guard lock(mutex_);
  return hubHidDevice_;
}

void OrvexQXServer::setConnectedDevice(std::shared_ptr<RFDevice> device) {
  std::lock_guard lock(mutex_);
  connectedDevice_ = std::move(device);
}

bool OrvexQXServer::refreshConnectedDevice() {
  std::lock_guard lock(mutex_);
  if (!ioHidDevice_) return false;
  connectedDevice_ = std::make_shared<RFDevice>(*ioHidDevice_);
  return true;
}

int32_t OrvexQXServer::glassGeneration() const {
  std::lock_guard lock(mutex_);
  return glassGeneration_;
}

void OrvexQXServer::setGlassGeneration(int32_t generation) {
  std::lock_guard lock(mutex_);
  glassGeneration_ = generation;
}

std::string OrvexQXServer::glassName() const {
  std::lock_guard lock(mutex_);
  return glassName_;
}

void OrvexQXServer::setReadCallBack(ReadCallBack callback) {
  auto shared = std::make_shared<const ReadCallBack>(std::move(callback));
  std::lock_guard lock(mutex_);
  readCallBack_ = std::move(shared);
}

void OrvexQXServer::setMyDeviceChangeBlock(DeviceChangeBlock block) {
  std::lock_guard lock(mutex_);
  myDeviceChangeBlock_ = std::move(block);
}

OrvexQXServer::DeviceChangeBlock OrvexQXServer::myDeviceChangeBlock() const {
  std::lock_guard lock(mutex_);
  return myDeviceChangeBlock_;
}

}  // namespace vistrelle::device
