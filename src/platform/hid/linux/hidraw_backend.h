#pragma once

#include "platform/hid/hid_backend.h"

namespace vistrelle::hid {

// The system's HID devices through their hidraw nodes: arrivals and removals
// from a libudev netlink monitor, each node opened O_RDWR | O_NONBLOCK and its
// report descriptor read with HIDIOCGRDESC.
class HidrawBackend : public HidBackend {
 public:
  std::unique_ptr<HidWatcher> createWatcher() override;
  HidOpenResult open(const HidDeviceInfo& device) override;
};

}  // namespace vistrelle::hid
