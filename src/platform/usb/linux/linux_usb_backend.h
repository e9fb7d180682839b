#pragma once

#include <memory>
#include <mutex>

#include "platform/usb/usb_backend.h"

namespace vistrelle::usb {

// libudev for plug events and enumeration, libusb for opening devices.  The
// libusb context is made on the first open, so a machine without usbfs can
// still watch and enumerate (and each open then fails with the reason).
class LinuxUsbBackend : public UsbBackend {
 public:
  LinuxUsbBackend();
  ~LinuxUsbBackend() override;

  static std::shared_ptr<UsbBackend> create();

  std::unique_ptr<UsbWatcher> createWatcher() override;
  UsbOpenResult open(const UsbDeviceInfo& device) override;

  struct Context;

 private:
  std::mutex mutex_;
  std::shared_ptr<Context> context_;  // shared with every handle it opened
};

}  // namespace vistrelle::usb
