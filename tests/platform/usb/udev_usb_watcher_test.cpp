#include "platform/usb/linux/udev_usb_watcher.h"

#include <gtest/gtest.h>
#include <poll.h>

#include "platform/usb/linux/linux_usb_backend.h"

namespace vistrelle::usb {
namespace {

TEST(UdevUsbWatcher, ReadsTheKernelsProductProperty) {
  struct Case {
    const char* text;
    bool ok;
    uint16_t vendorId, productId;
  };
  const Case cases[] = {
      {"3318/424/100", true, 0x3318, 0x0424},  // no leading zeros, as the kernel writes it
      {"416/3f00/0", true, 0x0416, 0x3F00},
      {"ffff/ffff/ffff", true, 0xFFFF, 0xFFFF},
      {"1d6b/2/606", true, 0x1D6B, 0x0002},
      {"3318/424", false, 0, 0},  // no bcdDevice part
      {"10000/1/1", false, 0, 0},
      {"/1/1", false, 0, 0},
      {"zz/1/1", false, 0, 0},
      {"", false, 0, 0},
  };
  for (const Case& c : cases) {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    EXPECT_EQ(UdevUsbWatcher::parseProductProperty(c.text, vendorId, productId), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(vendorId, c.vendorId) << c.text;
      EXPECT_EQ(productId, c.productId) << c.text;
    }
  }
  uint16_t v = 0;
  uint16_t p = 0;
  EXPECT_FALSE(UdevUsbWatcher::parseProductProperty(nullptr, v, p));
}

// The real USB devices of this machine (a container may have none): the
// subscription and the listing work, nothing blocks, and every device listed
// can be asked for.
TEST(UdevUsbWatcher, WatchesAndListsThisMachinesDevices) {
  LinuxUsbBackend backend;
  std::unique_ptr<UsbWatcher> watcher = backend.createWatcher();
  ASSERT_GE(watcher->fd(), 0);
  EXPECT_TRUE(static_cast<UdevUsbWatcher&>(*watcher).source() == "udev" ||
              static_cast<UdevUsbWatcher&>(*watcher).source() == "kernel");

  std::vector<UsbDeviceInfo> devices = watcher->enumerate();
  for (const UsbDeviceInfo& device : devices) {
    SCOPED_TRACE(device.sysPath);
    EXPECT_TRUE(device.vendorId.has_value());
    EXPECT_TRUE(device.productId.has_value());
    EXPECT_EQ(device.id, makeUsbDeviceId(device.busNumber, device.deviceAddress));
    UsbOpenResult opened = backend.open(device);
    if (opened.status == UsbOpenStatus::Opened) {
      ASSERT_NE(opened.handle, nullptr);
      EXPECT_EQ(opened.vendorId, device.vendorId);
    } else {
      EXPECT_EQ(opened.handle, nullptr);
      EXPECT_FALSE(opened.reason.empty());
    }
  }

  // Non-blocking: an empty socket gives no events at once.
  pollfd fd{watcher->fd(), POLLIN, 0};
  if (::poll(&fd, 1, 0) == 0) {
    EXPECT_TRUE(watcher->readEvents().empty());
  }
}

TEST(LinuxUsbBackend, OpeningADeviceThatIsNotThereFailsWithAReason) {
  LinuxUsbBackend backend;
  UsbDeviceInfo absent;
  absent.busNumber = 255;
  absent.deviceAddress = 255;
  absent.id = makeUsbDeviceId(255, 255);
  UsbOpenResult opened = backend.open(absent);
  EXPECT_EQ(opened.status, UsbOpenStatus::Failed);
  EXPECT_EQ(opened.handle, nullptr);
  EXPECT_FALSE(opened.reason.empty());
}

}  // namespace
}  // namespace vistrelle::usb
