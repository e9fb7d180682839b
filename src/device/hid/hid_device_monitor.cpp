#include "device/hid/hid_device_monitor.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include "base/helpers/language_bundle.h"
#include "base/log/orvex_log.h"
#include "device/hid/glasses_device_table.h"
#include "platform/hid/hid_error.h"
#include "platform/message/transient_message.h"

namespace vistrelle::device {

struct HIDDeviceMonitor::Registered {
  HIDDevice record;
  bool parsed = true;    // glasses reports (not a wake device, not the boot loader)
  bool removed = false;  // reported gone
  std::vector<uint8_t> buffer;
};

namespace {

// Tokens are unique in the process, across monitors.
std::atomic<uint64_t> nextToken{1};

// Reports read from one node per wake-up, so one busy node cannot starve the
// others or a stop.
constexpr int kReportsPerWakeup = 64;

}  // namespace

HIDDeviceMonitor::HIDDeviceMonitor(std::vector<USBMonitorData> vp, int64_t reportSize)
    : HIDDeviceMonitor(std::move(vp), reportSize, Options{}) {}

HIDDeviceMonitor::HIDDeviceMonitor(std::vector<USBMonitorData> vp, int64_t reportSize,
                                   Options options)
    : vp_(std::move(vp)),
      reportSize_(reportSize),
      backend_(options.backend ? std::move(options.backend) : hid::HidBackend::current()),
      center_(options.center ? *options.center : NotificationCenter::defaultCenter()),
      parser_(options.parser ? *options.parser : GlassReport::shared()),
      log_(options.log ? std::move(options.log)
                       : [](std::string_view line) { OrvexLog::logMessage(line); }),
      showMessage_(options.showMessage
                       ? std::move(options.showMessage)
                       : [](const std::string& text) { message::TransientMessage::show(text); }) {}

HIDDeviceMonitor::~HIDDeviceMonitor() {
  loop_.stopAndWait();
}

void HIDDeviceMonitor::requireStopped() const {
  if (running()) throw std::logic_error("the HID monitor's closures are set before it starts");
}

void HIDDeviceMonitor::setDevicePlugIn(DeviceCallback callback) {
  requireStopped();
  devicePlugIn_ = std::move(callback);
}

void HIDDeviceMonitor::setDevicePullOut(DeviceCallback callback) {
  requireStopped();
  devicePullOut_ = std::move(callback);
}

void HIDDeviceMonitor::setReadCallBack(ReadCallBack callback) {
  requireStopped();
  readCallBack_ = std::move(callback);
}

void HIDDeviceMonitor::stop() {
  loop_.requestStop();
}

bool HIDDeviceMonitor::matches(uint16_t vendorId, uint16_t productId) const {
  return std::any_of(vp_.begin(), vp_.end(), [&](const USBMonitorData& row) {
    return row.vendorId == vendorId && row.productId == productId;
  });
}

void HIDDeviceMonitor::start() {
  loop_.enter();
  running_.store(true, std::memory_order_release);
  // However the run ends, every node it opened stops taking writes, and the
  // next run can begin.
  struct Leave {
    HIDDeviceMonitor& monitor;
    ~Leave() {
      for (const auto& device : monitor.devices_) device->record.device->detach();
      monitor.devices_.clear();
      monitor.running_.store(false, std::memory_order_release);
      monitor.loop_.leave();
    }
  } leave{*this};
  if (loop_.stopRequested()) return;
  run();
}

void HIDDeviceMonitor::run() {
  std::unique_ptr<hid::HidWatcher> watcher;
  std::vector<hid::HidDeviceInfo> present;
  try {
    // Subscribed before enumerating, so nothing arriving meanwhile is missed.
    watcher = backend_->createWatcher();
    present = watcher->enumerate();
  } catch (const hid::HidError& error) {
    log_(std::string("HID monitor: cannot watch HID devices: ") + error.what());
    loop_.waitForStop(dispatch::Nanos::max());
    return;
  }
  for (const auto& info : present) arrived(info);

  // Rebuilt only when the devices change, not at every wake-up.
  std::vector<pollfd> fds;
  std::vector<std::shared_ptr<Registered>> polled;
  size_t pollSetVersion = devicesVersion_ - 1;
  for (;;) {
    if (pollSetVersion != devicesVersion_) {
      pollSetVersion = devicesVersion_;
      fds.clear();
      fds.push_back({loop_.stopFd(), POLLIN, 0});
      fds.push_back({watcher->fd(), POLLIN, 0});
      polled = devices_;
      for (const auto& device : polled) fds.push_back({device->record.device->fd(), POLLIN, 0});
    }
    if (::poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category(), "poll on HID devices");
    }
    if (fds[0].revents != 0) return;
    if (fds[1].revents != 0) {
      for (const hid::HidEvent& event : watcher->readEvents()) {
        if (event.action == hid::HidAction::Added) {
          arrived(event.device);
        } else {
          removed(event.device.path);
        }
      }
    }
    for (size_t i = 0; i < polled.size(); ++i) {
      if (fds[i + 2].revents == 0) continue;
      // Removed by an event of this same round: its number may be taken by
      // the node that replaced it, which has its own entry next round.
      if (polled[i]->removed) continue;
      readReports(polled[i]);
    }
  }
}

void HIDDeviceMonitor::arrived(const hid::HidDeviceInfo& info) {
  if (!matches(info.vendorId, info.productId)) return;
  for (const auto& device : devices_) {
    if (device->record.device->path() == info.path) return;  // reported by both roads
  }
  hid::HidOpenResult opened = backend_->open(info);
  if (!opened.connection) {
    log_("HID monitor: " + opened.reason);
    if (opened.error == EACCES && !permissionShown_) {
      permissionShown_ = true;
      const std::string pattern =
          base::LanguageBundle::shared().localizedStringForKey(kNoPermissionText);
      std::vector<char> text(pattern.size() + info.path.size() + 1);
      std::snprintf(text.data(), text.size(), pattern.c_str(), info.path.c_str());
      showMessage_(text.data());
    }
    return;
  }

  auto device = std::make_shared<Registered>();
  HIDDevice& record = device->record;
  record.id = info.portPath;
  record.vendorId = info.vendorId;
  record.productId = info.productId;
  record.reportSize = opened.connection->layout().maxInputBytes();
  record.device = std::move(opened.connection);
  record.name = info.name.value_or("");
  record.versionNumber = info.version;
  record.token = nextToken.fetch_add(1, std::memory_order_relaxed);
  const std::optional<int32_t> rule =
      GlassesDeviceTable::generationRule(info.vendorId, info.productId);
  record.generation = rule.value_or(glassGeneration());
  device->parsed = !GlassesDeviceTable::isWakeDevice(info.vendorId, info.productId) &&
                   !GlassesDeviceTable::isBootLoader(info.vendorId, info.productId);
  // The report ID byte, then up to `reportSize` bytes of report.
  device->buffer.resize(static_cast<size_t>(std::max<int64_t>(reportSize_, 1)) + 1);
  devices_.push_back(device);
  ++devicesVersion_;

  center_.post(kConnected, record.notificationObject());
  if (rule) setGlassGeneration(*rule);
  if (devicePlugIn_) devicePlugIn_(record);
}

void HIDDeviceMonitor::removed(const std::string& path) {
  auto it = std::find_if(devices_.begin(), devices_.end(),
                         [&](const auto& device) { return device->record.device->path() == path; });
  if (it == devices_.end()) return;  // the other road already reported it
  std::shared_ptr<Registered> device = *it;
  devices_.erase(it);
  ++devicesVersion_;
  device->removed = true;
  device->record.device->detach();
  center_.post(kDisconnected, device->record.notificationObject());
  if (devicePullOut_) devicePullOut_(device->record);
}

void HIDDeviceMonitor::readReports(const std::shared_ptr<Registered>& device) {
  hid::HidConnection& node = *device->record.device;
  for (int i = 0; i < kReportsPerWakeup; ++i) {
    const hid::HidConnection::ReadResult result = node.read(device->buffer);
    switch (result.status) {
      case hid::HidConnection::ReadStatus::Report:
        handleInput(*device, result.report.bytes);
        continue;
      case hid::HidConnection::ReadStatus::Empty:
        return;
      case hid::HidConnection::ReadStatus::Gone:
        removed(node.path());
        return;
      case hid::HidConnection::ReadStatus::Failed:
        log_("HID monitor: reading " + node.path() + " failed: " + std::strerror(result.error));
        removed(node.path());
        return;
    }
  }
}

void HIDDeviceMonitor::handleInput(const Registered& device, std::span<const uint8_t> report) {
  // Nobody observes it in the application: the copy is made only for a taker.
  if (center_.observerCount(kDataReceived) > 0) {
    center_.post(kDataReceived,
                 Value(Value::Map{{"data", Value(std::string(report.begin(), report.end()))}}));
  }
  if (!device.parsed) return;
  parser_.handleInputReport(device.record.generation, report, readCallBack_);
}

}  // namespace vistrelle::device
