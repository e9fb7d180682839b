#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/usb/usb_device_handle.h"
#include "platform/usb/usb_device_info.h"
#include "platform/usb/usb_watcher.h"

namespace vistrelle::usb {

enum class UsbOpenStatus {
  Opened,
  // Another client holds the device: there is no handle, but the device's
  // descriptor (and with it its ids) could still be read.
  ExclusiveAccess,
  Failed,
};

struct UsbOpenResult {
  UsbOpenStatus status = UsbOpenStatus::Failed;
  std::unique_ptr<UsbDeviceHandle> handle;  // set only when Opened
  std::optional<uint16_t> vendorId;         // from the device's descriptor
  std::optional<uint16_t> productId;
  std::string reason;  // why it failed or why access was refused
};

// The system's USB service: plug-event subscriptions and opening devices.
// Safe to use from several threads; each watcher is used by one thread at a
// time.
class UsbBackend {
 public:
  virtual ~UsbBackend() = default;

  // Throws UsbError with the reason when no subscription can be made.
  virtual std::unique_ptr<UsbWatcher> createWatcher() = 0;
  virtual UsbOpenResult open(const UsbDeviceInfo& device) = 0;
};

}  // namespace vistrelle::usb
