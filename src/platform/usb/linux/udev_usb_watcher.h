#pragma once

#include <string>
#include <vector>

#include "platform/udev/udev_ptr.h"
#include "platform/usb/usb_watcher.h"

namespace vistrelle::usb {

// Plug events of `usb`/`usb_device` devices from a netlink monitor, and the
// enumeration of those devices from sysfs.
class UdevUsbWatcher : public UsbWatcher {
 public:
  // Subscribes at once.  Uses the "udev" source when udevd runs and the
  // "kernel" source otherwise (containers have no udevd, and the "udev" source
  // then stays silent).  Throws UsbError with the reason on failure.
  UdevUsbWatcher();

  int fd() const override;
  std::vector<UsbEvent> readEvents() override;
  std::vector<UsbDeviceInfo> enumerate() override;

  const std::string& source() const { return source_; }

  // The description of one udev device; the ids come from the sysattrs and,
  // when those are gone (a removal), from the PRODUCT property.
  static UsbDeviceInfo describe(udev_device* device);
  // "vvvv/pppp/bcd" in hexadecimal without leading zeros, as the kernel
  // writes PRODUCT; false when it is malformed.
  static bool parseProductProperty(const char* text, uint16_t& vendorId, uint16_t& productId);

 private:
  udev_ptr::UdevPtr udev_;
  udev_ptr::UdevMonitorPtr monitor_;
  std::string source_;
};

}  // namespace vistrelle::usb
