#include "platform/hid/linux/hidraw_backend.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/hid/linux/udev_hidraw_watcher.h"

namespace vistrelle::hid {

std::unique_ptr<HidWatcher> HidrawBackend::createWatcher() {
  return std::make_unique<UdevHidrawWatcher>();
}

HidOpenResult HidrawBackend::open(const HidDeviceInfo& device) {
  HidOpenResult result;
  dispatch::UniqueFd fd(::open(device.path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
  if (!fd) {
    result.error = errno;
    result.reason = "cannot open " + device.path + ": " + std::strerror(result.error);
    return result;
  }
  int size = 0;
  if (::ioctl(fd.get(), HIDIOCGRDESCSIZE, &size) < 0) {
    result.error = errno;
    result.reason = "cannot read the report descriptor size of " + device.path + ": " +
                    std::strerror(result.error);
    return result;
  }
  hidraw_report_descriptor descriptor{};
  descriptor.size = static_cast<uint32_t>(
      std::min<int>(std::max(size, 0), static_cast<int>(sizeof descriptor.value)));
  if (::ioctl(fd.get(), HIDIOCGRDESC, &descriptor) < 0) {
    result.error = errno;
    result.reason =
        "cannot read the report descriptor of " + device.path + ": " + std::strerror(result.error);
    return result;
  }
  result.connection = std::make_shared<HidConnection>(
      std::move(fd), device.path,
      std::vector<uint8_t>(descriptor.value, descriptor.value + descriptor.size));
  return result;
}

}  // namespace vistrelle::hid
