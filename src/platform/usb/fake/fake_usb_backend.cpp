#include "platform/usb/fake/fake_usb_backend.h"

#include <algorithm>

#include "platform/usb/fake/fake_usb_device_handle.h"
#include "platform/usb/usb_error.h"

namespace vistrelle::usb {

std::unique_ptr<UsbWatcher> FakeUsbBackend::createWatcher() {
  std::lock_guard lock(mutex_);
  if (!watcherFailure_.empty()) throw UsbError(watcherFailure_);
  auto watcher = std::make_unique<FakeUsbWatcher>(
      [this] {
        std::lock_guard inner(mutex_);
        std::vector<UsbDeviceInfo> present;
        for (const auto& [id, device] : devices_) present.push_back(device.info);
        return present;
      },
      [this](FakeUsbWatcher* gone) {
        std::lock_guard inner(mutex_);
        std::erase(watchers_, gone);
      });
  watchers_.push_back(watcher.get());
  return watcher;
}

UsbOpenResult FakeUsbBackend::open(const UsbDeviceInfo& device) {
  ++openCalls_;
  std::lock_guard lock(mutex_);
  UsbOpenResult result;
  auto it = devices_.find(device.id);
  if (it == devices_.end()) {
    result.reason = "device is no longer attached";
    return result;
  }
  const Attached& attached = it->second;
  switch (attached.behaviour) {
    case OpenBehaviour::Open:
    case OpenBehaviour::IdsUnreadable: {
      bool readable = attached.behaviour == OpenBehaviour::Open;
      auto handle = std::make_unique<FakeUsbDeviceHandle>(attached.info, readable, openHandles_);
      result.vendorId = handle->vendorId();
      result.productId = handle->productId();
      result.handle = std::move(handle);
      result.status = UsbOpenStatus::Opened;
      break;
    }
    case OpenBehaviour::ExclusiveAccess:
      result.status = UsbOpenStatus::ExclusiveAccess;
      result.vendorId = attached.info.vendorId;
      result.productId = attached.info.productId;
      result.reason = "LIBUSB_ERROR_BUSY";
      break;
    case OpenBehaviour::Fail:
      result.reason = attached.failure;
      break;
  }
  return result;
}

void FakeUsbBackend::attach(UsbDeviceInfo device, OpenBehaviour behaviour, std::string failure) {
  std::lock_guard lock(mutex_);
  devices_[device.id] = Attached{device, behaviour, std::move(failure)};
  broadcast({UsbAction::Added, device});
}

void FakeUsbBackend::detach(uint64_t id, bool withIds) {
  std::lock_guard lock(mutex_);
  auto it = devices_.find(id);
  if (it == devices_.end()) return;
  UsbDeviceInfo info = it->second.info;
  devices_.erase(it);
  if (!withIds) {
    info.vendorId.reset();
    info.productId.reset();
    info.name.clear();
  }
  broadcast({UsbAction::Removed, info});
}

void FakeUsbBackend::failWatchers(std::string reason) {
  std::lock_guard lock(mutex_);
  watcherFailure_ = std::move(reason);
}

size_t FakeUsbBackend::watcherCount() const {
  std::lock_guard lock(mutex_);
  return watchers_.size();
}

void FakeUsbBackend::broadcast(const UsbEvent& event) {
  for (FakeUsbWatcher* watcher : watchers_) watcher->push(event);
}

}  // namespace vistrelle::usb
