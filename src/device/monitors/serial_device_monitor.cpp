#include "device/monitors/serial_device_monitor.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <unordered_set>

#include "base/log/orvex_log.h"
#include "platform/serial/linux/udev_serial_port_enumerator.h"
#include "platform/serial/serial_error.h"

namespace vistrelle {
namespace {

// The records of `from` whose paths `other` lacks, in `from`'s order, each
// path once.
std::vector<SerialDevice> minus(const std::vector<SerialDevice>& from,
                                const std::vector<SerialDevice>& other) {
  std::unordered_set<SerialDevice> exclude(other.begin(), other.end());
  std::vector<SerialDevice> result;
  for (const SerialDevice& device : from) {
    if (exclude.insert(device).second) result.push_back(device);
  }
  return result;
}

}  // namespace

SerialDeviceMonitor::SerialDeviceMonitor() : SerialDeviceMonitor(Options{}) {}

SerialDeviceMonitor::SerialDeviceMonitor(Options options)
    : enumerator_(options.enumerator ? std::move(options.enumerator)
                                     : serial::UdevSerialPortEnumerator::create()),
      center_(options.center ? options.center : &NotificationCenter::defaultCenter()),
      log_(options.log ? std::move(options.log)
                       : [](std::string_view line) { OrvexLog::logMessage(line); }) {}

SerialDeviceMonitor::~SerialDeviceMonitor() {
  loop_.stopAndWait();
}

std::vector<SerialDevice> SerialDeviceMonitor::serialDevices() const {
  std::lock_guard lock(mutex_);
  return serialDevices_;
}

void SerialDeviceMonitor::setSerialDevices(std::vector<SerialDevice> devices) {
  std::lock_guard lock(mutex_);
  serialDevices_ = std::move(devices);
}

float SerialDeviceMonitor::portUsageIntervalTime() const {
  std::lock_guard lock(mutex_);
  return portUsageIntervalTime_;
}

void SerialDeviceMonitor::setPortUsageIntervalTime(float seconds) {
  std::lock_guard lock(mutex_);
  portUsageIntervalTime_ = seconds;
}

SerialDeviceMonitor::Filter SerialDeviceMonitor::filterDevices() const {
  std::lock_guard lock(mutex_);
  return filterDevices_;
}

void SerialDeviceMonitor::setFilterDevices(Filter filter) {
  std::lock_guard lock(mutex_);
  filterDevices_ = std::move(filter);
}

void SerialDeviceMonitor::start() {
  loop_.enter();
  struct Leave {
    dispatch::MonitorLoop& loop;
    ~Leave() { loop.leave(); }
  } leave{loop_};
  for (;;) {
    poll();
    if (loop_.waitForStop(waitBetweenPolls(portUsageIntervalTime()))) return;
  }
}

dispatch::Nanos SerialDeviceMonitor::waitBetweenPolls(float seconds) {
  if (!std::isfinite(seconds) || seconds < 0) seconds = kDefaultInterval;
  // Bounded before the conversion: a float can hold far more nanoseconds than
  // the duration can.
  seconds = std::min(seconds, kMaxInterval);
  return std::chrono::duration_cast<dispatch::Nanos>(
      std::chrono::duration<double>(static_cast<double>(seconds)));
}

void SerialDeviceMonitor::stop() {
  loop_.requestStop();
}

void SerialDeviceMonitor::poll() {
  std::vector<serial::SerialPortInfo> ports;
  try {
    ports = enumerator_->enumerate();
  } catch (const serial::SerialError& error) {
    log_(std::string("Serial ports not polled: ") + error.what());
    return;
  }
  std::vector<SerialDevice> devices;
  devices.reserve(ports.size());
  for (const serial::SerialPortInfo& port : ports) devices.push_back(SerialDevice::from(port));
  handlePorts(std::move(devices));
}

void SerialDeviceMonitor::handlePorts(std::vector<SerialDevice> ports) {
  if (Filter filter = filterDevices()) ports = filter(ports);
  std::vector<SerialDevice> previous = serialDevices();
  std::vector<SerialDevice> removed = minus(previous, ports);
  std::vector<SerialDevice> added = minus(ports, previous);
  for (const SerialDevice& device : removed) {
    center_->post(kRemoved, Value(Value::Map{{"device", device.toValue()}}));
  }
  for (const SerialDevice& device : added) {
    center_->post(kAdded, Value(Value::Map{{"device", device.toValue()}}));
  }
  setSerialDevices(std::move(ports));
}

}  // namespace vistrelle
