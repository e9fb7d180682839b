#pragma once

#include <vector>

#include "platform/hid/hid_device_info.h"

namespace vistrelle::hid {

enum class HidAction { Added, Removed };

struct HidEvent {
  HidAction action = HidAction::Added;
  HidDeviceInfo device;
};

// One subscription to HID node arrivals and removals.  It is subscribed when
// created, so a node that arrives while `enumerate` runs is reported by one of
// the two (possibly both) and never missed.
class HidWatcher {
 public:
  virtual ~HidWatcher() = default;

  // Readable (poll) while events wait to be read.
  virtual int fd() const = 0;
  // Every event that waits, without blocking.
  virtual std::vector<HidEvent> readEvents() = 0;
  // The nodes present now.  Throws HidError when the system cannot be asked.
  virtual std::vector<HidDeviceInfo> enumerate() = 0;
};

}  // namespace vistrelle::hid
