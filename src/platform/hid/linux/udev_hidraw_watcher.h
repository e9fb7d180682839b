#pragma once

#include <string>
#include <vector>

#include "platform/hid/hid_watcher.h"
#include "platform/udev/udev_ptr.h"

namespace vistrelle::hid {

// Arrivals and removals of hidraw nodes from a libudev netlink monitor, and
// the nodes present from sysfs.
class UdevHidrawWatcher : public HidWatcher {
 public:
  // Subscribes at once.  Listens to udevd when it runs, so a node is reported
  // once its permissions are set; to the kernel otherwise (a container
  // without udevd, where the "udev" source stays silent).  Throws HidError.
  UdevHidrawWatcher();

  int fd() const override;
  std::vector<HidEvent> readEvents() override;
  std::vector<HidDeviceInfo> enumerate() override;

  const std::string& source() const { return source_; }

  static HidDeviceInfo describe(udev_device* node);

 private:
  udev_ptr::UdevPtr udev_;
  udev_ptr::UdevMonitorPtr monitor_;
  std::string source_;
};

}  // namespace vistrelle::hid
