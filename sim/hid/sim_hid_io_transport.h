#pragma once

#include <atomic>
#include <memory>

#include "platform/hid/hid_io_transport.h"
#include "sim/hid/sim_hid_bus.h"

namespace vistrelle::sim {

// The firmware updater's transport over the simulated bus: devices are found
// by their ids (each on interface 0), and an opened one is a reader of its
// node like any other, so it gets every input report and its writes reach
// the device.  A read waits on the node's socket with the time-out asked for.
class SimHidIoTransport : public hid::HidIoTransport {
 public:
  explicit SimHidIoTransport(std::shared_ptr<SimHidBus> bus) : bus_(std::move(bus)) {}

  bool init() override;
  void exit() override;
  std::vector<hid::HidIoDeviceEntry> enumerate(uint16_t vendorId, uint16_t productId) override;
  std::unique_ptr<hid::HidIoHandle> openPath(const std::string& path) override;

  // From now on init() fails, as hid_init() does when the library cannot start.
  void failInit(bool fail) { failInit_.store(fail); }
  // init() calls not yet paired with exit().
  int users() const { return users_.load(); }

 private:
  const std::shared_ptr<SimHidBus> bus_;
  std::atomic<bool> failInit_{false};
  std::atomic<int> users_{0};
};

}  // namespace vistrelle::sim
