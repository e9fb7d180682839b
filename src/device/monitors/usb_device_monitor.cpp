#include "device/monitors/usb_device_monitor.h"

#include <poll.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <set>
#include <system_error>

#include "base/log/orvex_log.h"
#include "platform/dispatch/runtime.h"
#include "platform/usb/linux/linux_usb_backend.h"

namespace vistrelle {

struct USBDeviceMonitor::Shared {
  std::shared_ptr<usb::UsbBackend> backend;
  NotificationCenter* center = nullptr;
  LogSink log;

  struct Unclaimed {
    size_t pair = 0;
    uint64_t deviceId = 0;
    std::unique_ptr<usb::UsbDeviceHandle> handle;
  };
  mutable std::mutex mutex;
  std::map<uint64_t, Unclaimed> unclaimed;  // by handle token
  uint64_t nextToken = 1;

  uint64_t keep(size_t pair, uint64_t deviceId, std::unique_ptr<usb::UsbDeviceHandle> handle) {
    std::lock_guard lock(mutex);
    uint64_t token = nextToken++;
    unclaimed.emplace(token, Unclaimed{pair, deviceId, std::move(handle)});
    return token;
  }

  // Closes what nobody claimed for a device that has gone (outside the lock).
  void dropUnclaimed(size_t pair, uint64_t deviceId) {
    std::vector<std::unique_ptr<usb::UsbDeviceHandle>> closing;
    {
      std::lock_guard lock(mutex);
      for (auto it = unclaimed.begin(); it != unclaimed.end();) {
        if (it->second.pair == pair && it->second.deviceId == deviceId) {
          closing.push_back(std::move(it->second.handle));
          it = unclaimed.erase(it);
        } else {
          ++it;
        }
      }
    }
  }
};

namespace {

using Shared = USBDeviceMonitor::Shared;

std::string describe(const usb::UsbDeviceInfo& device) {
  std::string text =
      "USB device " + std::to_string(device.busNumber) + "-" + std::to_string(device.deviceAddress);
  if (!device.name.empty()) text += " \"" + device.name + "\"";
  return text;
}

bool matches(const USBMonitorData& pair, const usb::UsbDeviceInfo& device) {
  return device.vendorId == pair.vendorId && device.productId == pair.productId;
}

// One watched pair: its subscription (read only by the thread in start()),
// its queue, and the arrivals it announced (touched only on that queue).
struct Pair {
  size_t index = 0;
  USBMonitorData match;
  std::unique_ptr<usb::UsbWatcher> watcher;
  dispatch::ExecutorPtr queue;
  std::shared_ptr<std::set<uint64_t>> announced = std::make_shared<std::set<uint64_t>>();
};

void deviceAdded(const std::shared_ptr<Shared>& shared, size_t index, const USBMonitorData& match,
                 std::set<uint64_t>& announced, const usb::UsbDeviceInfo& device) {
  // Subscribing before enumerating may report one arrival twice.
  if (!matches(match, device) || announced.count(device.id) != 0) return;
  usb::UsbOpenResult opened = shared->backend->open(device);
  if (opened.status == usb::UsbOpenStatus::Failed) {
    shared->log(describe(device) + " skipped: cannot open it: " + opened.reason);
    return;
  }
  if (!opened.vendorId || !opened.productId) {
    shared->log(describe(device) + " skipped: cannot read its vendor and product ids");
    return;
  }
  USBDevice record;
  record.id = device.id;
  record.vendorId = *opened.vendorId;
  record.productId = *opened.productId;
  record.name = USBDevice::truncatedName(device.name);
  std::optional<uint64_t> token;
  if (opened.handle) token = shared->keep(index, device.id, std::move(opened.handle));
  announced.insert(device.id);
  shared->center->post(USBDeviceMonitor::kConnected,
                       Value(Value::Map{{"device", record.toValue(token)}}));
}

void deviceRemoved(const std::shared_ptr<Shared>& shared, size_t index, const USBMonitorData& match,
                   std::set<uint64_t>& announced, const usb::UsbDeviceInfo& device) {
  // The attributes are gone by now: the ids come from the event, and when it
  // has none, the arrival this pair announced stands in for them.
  bool wasAnnounced = announced.erase(device.id) != 0;
  if (!wasAnnounced && !matches(match, device)) return;
  shared->dropUnclaimed(index, device.id);
  shared->center->post(USBDeviceMonitor::kDisconnected,
                       Value(Value::Map{{"id", Value(static_cast<unsigned long>(device.id))}}));
}

void queueEvent(const std::shared_ptr<Shared>& shared, const Pair& pair, usb::UsbEvent event) {
  pair.queue->post([shared, index = pair.index, match = pair.match, announced = pair.announced,
                    event = std::move(event)] {
    if (event.action == usb::UsbAction::Added) {
      deviceAdded(shared, index, match, *announced, event.device);
    } else {
      deviceRemoved(shared, index, match, *announced, event.device);
    }
  });
}

}  // namespace

USBDeviceMonitor::USBDeviceMonitor(std::vector<USBMonitorData> matches)
    : USBDeviceMonitor(std::move(matches), Options{}) {}

USBDeviceMonitor::USBDeviceMonitor(std::vector<USBMonitorData> matches, Options options)
    : deviceMatches_(std::move(matches)), shared_(std::make_shared<Shared>()) {
  shared_->backend = options.backend ? std::move(options.backend) : usb::LinuxUsbBackend::create();
  shared_->center = options.center ? options.center : &NotificationCenter::defaultCenter();
  shared_->log = options.log ? std::move(options.log)
                             : [](std::string_view line) { OrvexLog::logMessage(line); };
  makeQueue_ = options.makeQueue ? std::move(options.makeQueue) : [](const std::string& label) {
    return dispatch::ExecutorPtr(dispatch::makeSerialQueue(label));
  };
}

USBDeviceMonitor::~USBDeviceMonitor() {
  loop_.stopAndWait();
}

void USBDeviceMonitor::stop() {
  loop_.requestStop();
}

void USBDeviceMonitor::start() {
  loop_.enter();
  std::vector<Pair> pairs;
  // However start() ends, it waits for what it queued, so that no handler
  // runs after it has returned, drops its subscriptions and lets the next run
  // begin.
  struct Leave {
    dispatch::MonitorLoop& loop;
    std::vector<Pair>& pairs;
    ~Leave() {
      for (Pair& pair : pairs) pair.queue->sync([] {});
      // Unsubscribed before leave(): a destructor waiting for this run may
      // free the monitor the moment leave() returns.
      pairs.clear();
      loop.leave();
    }
  } leave{loop_, pairs};
  // A stop that came first: nothing is subscribed, opened or announced.
  if (loop_.stopRequested()) return;

  for (size_t i = 0; i < deviceMatches_.size(); ++i) {
    Pair pair;
    pair.index = i;
    pair.match = deviceMatches_[i];
    pair.queue = makeQueue_(kQueueLabel);
    pair.watcher = shared_->backend->createWatcher();
    pairs.push_back(std::move(pair));
    // Subscribed first, so nothing that arrives from now on is missed.
    for (usb::UsbDeviceInfo& device : pairs.back().watcher->enumerate()) {
      queueEvent(shared_, pairs.back(), {usb::UsbAction::Added, std::move(device)});
    }
  }

  std::vector<pollfd> fds;
  fds.push_back({loop_.stopFd(), POLLIN, 0});
  for (const Pair& pair : pairs) fds.push_back({pair.watcher->fd(), POLLIN, 0});
  for (;;) {
    for (pollfd& fd : fds) fd.revents = 0;
    int rc = ::poll(fds.data(), fds.size(), -1);
    if (rc < 0) {
      if (errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category(), "poll on USB watchers");
    }
    if (fds[0].revents != 0) return;
    for (size_t i = 0; i < pairs.size(); ++i) {
      if (fds[i + 1].revents == 0) continue;
      for (usb::UsbEvent& event : pairs[i].watcher->readEvents()) {
        queueEvent(shared_, pairs[i], std::move(event));
      }
    }
  }
}

std::optional<USBDevice> USBDeviceMonitor::claimDevice(const Value& device) {
  std::optional<USBDevice> record = USBDevice::fromValue(device);
  if (!record) return std::nullopt;
  if (auto token = USBDevice::handleTokenOf(device)) {
    std::lock_guard lock(shared_->mutex);
    auto it = shared_->unclaimed.find(*token);
    if (it != shared_->unclaimed.end() && it->second.deviceId == record->id) {
      record->deviceHandle = std::move(it->second.handle);
      shared_->unclaimed.erase(it);
    }
  }
  return record;
}

size_t USBDeviceMonitor::unclaimedHandles() const {
  std::lock_guard lock(shared_->mutex);
  return shared_->unclaimed.size();
}

}  // namespace vistrelle
