#pragma once

#include <mutex>

#include "platform/hid/hid_io_transport.h"

namespace vistrelle::hid {

// hidapi's hidraw back-end.  Only this one: hidapi's libusb back-end would
// detach the kernel's driver, so the HID monitor would see the device leave
// in the middle of an update.  hid_init()/hid_exit() are counted across
// users, since hidapi's own state is process-wide.
class HidapiIoTransport : public HidIoTransport {
 public:
  ~HidapiIoTransport() override;

  bool init() override;
  void exit() override;
  std::vector<HidIoDeviceEntry> enumerate(uint16_t vendorId, uint16_t productId) override;
  std::unique_ptr<HidIoHandle> openPath(const std::string& path) override;

 private:
  std::mutex mutex_;
  int users_ = 0;
};

}  // namespace vistrelle::hid
