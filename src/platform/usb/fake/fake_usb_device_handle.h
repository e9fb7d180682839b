#pragma once

#include <atomic>
#include <memory>

#include "platform/usb/usb_device_handle.h"
#include "platform/usb/usb_device_info.h"

namespace vistrelle::usb {

// A stand-in opened device that counts itself in a shared tally while open.
class FakeUsbDeviceHandle : public UsbDeviceHandle {
 public:
  FakeUsbDeviceHandle(const UsbDeviceInfo& device, bool idsReadable,
                      std::shared_ptr<std::atomic<int>> openCount);
  ~FakeUsbDeviceHandle() override;

  std::optional<uint16_t> vendorId() const override;
  std::optional<uint16_t> productId() const override;

  uint64_t deviceId() const { return deviceId_; }

 private:
  uint64_t deviceId_;
  std::optional<uint16_t> vendorId_;
  std::optional<uint16_t> productId_;
  std::shared_ptr<std::atomic<int>> openCount_;
};

}  // namespace vistrelle::usb
