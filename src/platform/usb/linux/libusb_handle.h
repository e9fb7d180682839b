#pragma once

#include <libusb.h>

#include <memory>

#include "platform/usb/usb_device_handle.h"

namespace vistrelle::usb {

// An opened libusb device; keeps its libusb context alive until it is closed.
class LibusbHandle : public UsbDeviceHandle {
 public:
  LibusbHandle(std::shared_ptr<libusb_context> context, libusb_device_handle* handle);
  ~LibusbHandle() override;

  std::optional<uint16_t> vendorId() const override;
  std::optional<uint16_t> productId() const override;

  libusb_device_handle* get() const { return handle_; }

 private:
  std::optional<libusb_device_descriptor> descriptor() const;

  std::shared_ptr<libusb_context> context_;
  libusb_device_handle* handle_;
};

}  // namespace vistrelle::usb
