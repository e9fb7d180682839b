#pragma once

// What the HID road's tests share: a simulated bus with simulated glasses on
// it, the notification centre, parser and main state private to the test,
// and a log of the notifications posted from the monitor's thread.

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/monitors/notification_recorder.h"
#include "device/protocol/glass_report.h"
#include "platform/dispatch/virtual_executor.h"
#include "platform/notify/notification_center.h"
#include "sim/hid/sim_glasses_hid_device.h"
#include "sim/hid/sim_hid_bus.h"

namespace vistrelle::testing {

// Every notification of a centre, with bounded waits by name.
class NoteLog {
 public:
  explicit NoteLog(NotificationCenter& center)
      : subscription_(center.observe("", nullptr, [this](const Notification& note) {
          std::lock_guard lock(mutex_);
          notes_.push_back(note);
          changed_.notify_all();
        })) {}

  // True once `count` notifications named `name` came (within a generous limit).
  bool waitFor(const std::string& name, size_t count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10),
                             [&] { return countLocked(name) >= count; });
  }
  // True once `ready` holds for the notifications so far.
  template <typename Ready>
  bool waitUntil(Ready ready) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return ready(notes_); });
  }
  size_t count(const std::string& name) const {
    std::lock_guard lock(mutex_);
    return countLocked(name);
  }
  std::vector<Value> objects(const std::string& name) const {
    std::lock_guard lock(mutex_);
    std::vector<Value> found;
    for (const auto& note : notes_) {
      if (note.name == name) found.push_back(note.object);
    }
    return found;
  }

 private:
  size_t countLocked(const std::string& name) const {
    size_t n = 0;
    for (const auto& note : notes_) n += note.name == name ? 1 : 0;
    return n;
  }

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Notification> notes_;
  Subscription subscription_;
};

// Glasses of `model` with other ids.
inline sim::SimGlassesModel withIds(sim::SimGlassesModel model, uint16_t vendorId,
                                    uint16_t productId) {
  model.vendorId = vendorId;
  model.productId = productId;
  return model;
}

// The bus and the glasses' own clock: replies and IMU reports leave the
// glasses only when the test runs that clock (on the test's thread).
struct SimulatedGlassesBus {
  std::shared_ptr<sim::SimHidBus> bus = sim::SimHidBus::create();
  std::shared_ptr<dispatch::VirtualExecutor> glassesClock =
      std::make_shared<dispatch::VirtualExecutor>("glasses");

  std::unique_ptr<sim::SimGlassesHidDevice> glasses(
      sim::SimGlassesModel model, sim::SimGlassesHidDevice::Options options = {}) {
    return std::make_unique<sim::SimGlassesHidDevice>(bus, std::move(model), glassesClock,
                                                      std::move(options));
  }
  std::unique_ptr<sim::SimGlassesHidDevice> plugged(sim::SimGlassesModel model) {
    auto device = glasses(std::move(model));
    device->plug();
    return device;
  }
};

}  // namespace vistrelle::testing
