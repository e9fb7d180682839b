#include "sim/hid/sim_glasses_hid_device.h"

#include <condition_variable>
#include <mutex>

#include "device/protocol/glass_command_report.h"

namespace vistrelle::sim {

struct SimGlassesHidDevice::Link {
  std::weak_ptr<SimHidBus> bus;
  bool reportIds = true;
  mutable std::mutex mutex;
  std::string path;
  bool plugged = false;
  // Held while a write is handed to the glasses and counted, so a count read
  // afterwards always includes the glasses' record of it.
  mutable std::mutex writesMutex;
  mutable std::condition_variable writesChanged;
  size_t writes = 0;
  std::weak_ptr<SimGlasses> glasses;
  std::vector<uint8_t> frame;  // the input report being framed (executor only)

  // The glasses' sink: one input report to every reader of the node.
  void send(std::span<const uint8_t> report) {
    std::string node;
    {
      std::lock_guard lock(mutex);
      if (!plugged) return;
      node = path;
    }
    auto target = bus.lock();
    if (!target) return;
    if (reportIds) {
      frame.resize(report.size() + 1);
      frame[0] = kInputReportId;
      std::copy(report.begin(), report.end(), frame.begin() + 1);
      target->sendInput(node, frame);
    } else {
      target->sendInput(node, report);
    }
  }

  // One write as the node received it: [ID or 0x00, report].
  void received(std::span<const uint8_t> written) {
    std::lock_guard lock(writesMutex);
    if (auto target = glasses.lock(); target && !written.empty()) {
      // Unnumbered reports reach the device without the leading 0x00; the
      // glasses take them as their one output report.
      const uint8_t reportId = reportIds ? written[0] : device::GlassCommandReport::kReportId;
      target->receiveOutputReport(reportId, written.subspan(1));
    }
    ++writes;
    writesChanged.notify_all();
  }
};

SimGlassesHidDevice::SimGlassesHidDevice(std::shared_ptr<SimHidBus> bus, SimGlassesModel model,
                                         dispatch::ExecutorPtr executor)
    : SimGlassesHidDevice(std::move(bus), std::move(model), std::move(executor), Options{}) {}

SimGlassesHidDevice::SimGlassesHidDevice(std::shared_ptr<SimHidBus> bus, SimGlassesModel model,
                                         dispatch::ExecutorPtr executor, Options options)
    : bus_(std::move(bus)),
      options_(std::move(options)),
      model_(model),
      link_(std::make_shared<Link>()) {
  link_->bus = bus_;
  link_->reportIds = options_.reportIds;
  std::weak_ptr<Link> link = link_;
  glasses_ = SimGlasses::create(std::move(model), std::move(executor),
                                [link](std::span<const uint8_t> report) {
                                  if (auto target = link.lock()) target->send(report);
                                });
  link_->glasses = glasses_;
}

SimGlassesHidDevice::~SimGlassesHidDevice() {
  unplug();
}

void SimGlassesHidDevice::plug() {
  {
    std::lock_guard lock(link_->mutex);
    if (link_->plugged) return;
  }
  glasses_->attach();
  SimHidIdentity identity;
  identity.vendorId = model_.vendorId;
  identity.productId = model_.productId;
  identity.name = model_.productName;
  identity.version = options_.version;
  identity.portPath = options_.portPath;
  identity.descriptor = reportDescriptor(options_.reportIds);
  // The node is known only once plugged, and the first reports may come at
  // once: the sink waits for it under the lock.
  std::unique_lock lock(link_->mutex);
  std::weak_ptr<Link> link = link_;
  link_->path = bus_->plug(std::move(identity), [link](std::span<const uint8_t> frame) {
    if (auto target = link.lock()) target->received(frame);
  });
  link_->plugged = true;
}

void SimGlassesHidDevice::unplug() {
  std::string node;
  {
    std::lock_guard lock(link_->mutex);
    if (!link_->plugged) return;
    link_->plugged = false;
    node = link_->path;
  }
  bus_->unplug(node);
  glasses_->detach();
}

bool SimGlassesHidDevice::plugged() const {
  std::lock_guard lock(link_->mutex);
  return link_->plugged;
}

std::string SimGlassesHidDevice::path() const {
  std::lock_guard lock(link_->mutex);
  return link_->path;
}

void SimGlassesHidDevice::failWrites() {
  bus_->failWrites(path());
}

size_t SimGlassesHidDevice::writesReceived() const {
  std::lock_guard lock(link_->writesMutex);
  return link_->writes;
}

bool SimGlassesHidDevice::waitForWrites(size_t count, std::chrono::milliseconds limit) const {
  std::unique_lock lock(link_->writesMutex);
  return link_->writesChanged.wait_for(lock, limit, [&] { return link_->writes >= count; });
}

std::vector<uint8_t> SimGlassesHidDevice::reportDescriptor(bool reportIds) {
  std::vector<uint8_t> descriptor{
      0x06, 0x00, 0xFF,  // Usage Page (vendor defined 0xFF00)
      0x09, 0x01,        // Usage (1)
      0xA1, 0x01,        // Collection (Application)
      0x15, 0x00,        //   Logical Minimum (0)
      0x26, 0xFF, 0x00,  //   Logical Maximum (255)
      0x75, 0x08,        //   Report Size (8)
  };
  const auto append = [&](std::initializer_list<uint8_t> bytes) {
    descriptor.insert(descriptor.end(), bytes);
  };
  if (reportIds) append({0x85, kInputReportId});  // Report ID (1)
  append({0x95, 0x40, 0x09, 0x01, 0x81, 0x02});   // Report Count (64), Usage, Input (Data,Var,Abs)
  if (reportIds) append({0x85, device::GlassCommandReport::kReportId});  // Report ID (2)
  append({0x95, 0x40, 0x09, 0x01, 0x91, 0x02});  // Report Count (64), Usage, Output (Data,Var,Abs)
  append({0xC0});                                // End Collection
  return descriptor;
}

}  // namespace vistrelle::sim
