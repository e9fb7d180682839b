#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/usb/fake/fake_usb_watcher.h"
#include "platform/usb/usb_backend.h"

namespace vistrelle::usb {

// A scripted USB service for tests: devices are attached and detached by
// hand, each with the way its open should go.
class FakeUsbBackend : public UsbBackend {
 public:
  enum class OpenBehaviour { Open, ExclusiveAccess, Fail, IdsUnreadable };

  std::unique_ptr<UsbWatcher> createWatcher() override;
  UsbOpenResult open(const UsbDeviceInfo& device) override;

  // Attaches a device (reported to every watcher as an arrival).
  void attach(UsbDeviceInfo device, OpenBehaviour behaviour = OpenBehaviour::Open,
              std::string failure = "LIBUSB_ERROR_ACCESS");
  // Detaches a device.  The removal event carries the ids only when
  // `withIds`: a real removal may have lost its attributes.
  void detach(uint64_t id, bool withIds = true);

  // createWatcher() throws UsbError with this reason while it is not empty.
  void failWatchers(std::string reason);

  int openHandles() const { return *openHandles_; }
  int openCalls() const { return openCalls_; }
  size_t watcherCount() const;

 private:
  struct Attached {
    UsbDeviceInfo info;
    OpenBehaviour behaviour;
    std::string failure;
  };
  void broadcast(const UsbEvent& event);

  mutable std::mutex mutex_;
  std::map<uint64_t, Attached> devices_;
  std::vector<FakeUsbWatcher*> watchers_;
  std::string watcherFailure_;
  std::atomic<int> openCalls_{0};
  std::shared_ptr<std::atomic<int>> openHandles_ = std::make_shared<std::atomic<int>>(0);
};

}  // namespace vistrelle::usb
