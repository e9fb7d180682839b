#pragma once

#include <vector>

#include "platform/usb/usb_device_info.h"

namespace vistrelle::usb {

enum class UsbAction { Added, Removed };

struct UsbEvent {
  UsbAction action = UsbAction::Added;
  UsbDeviceInfo device;
};

// One subscription to USB plug events.  It is subscribed when created, so a
// device that arrives while `enumerate` runs is reported by one of the two
// (possibly both) and never missed.
class UsbWatcher {
 public:
  virtual ~UsbWatcher() = default;

  // Readable (poll) while events wait to be read.
  virtual int fd() const = 0;
  // Every event that waits, without blocking; other actions than arrival and
  // removal are dropped.
  virtual std::vector<UsbEvent> readEvents() = 0;
  // The devices attached now.  Throws UsbError when the system cannot be asked.
  virtual std::vector<UsbDeviceInfo> enumerate() = 0;
};

}  // namespace vistrelle::usb
