#include "platform/usb/fake/fake_usb_device_handle.h"

namespace vistrelle::usb {

FakeUsbDeviceHandle::FakeUsbDeviceHandle(const UsbDeviceInfo& device, bool idsReadable,
                                         std::shared_ptr<std::atomic<int>> openCount)
    : deviceId_(device.id), openCount_(std::move(openCount)) {
  if (idsReadable) {
    vendorId_ = device.vendorId;
    productId_ = device.productId;
  }
  ++*openCount_;
}

FakeUsbDeviceHandle::~FakeUsbDeviceHandle() {
  --*openCount_;
}

std::optional<uint16_t> FakeUsbDeviceHandle::vendorId() const {
  return vendorId_;
}
std::optional<uint16_t> FakeUsbDeviceHandle::productId() const {
  return productId_;
}

}  // namespace vistrelle::usb
