#include "platform/usb/linux/linux_usb_backend.h"

#include <libusb.h>

#include <string>

#include "platform/usb/linux/libusb_handle.h"
#include "platform/usb/linux/udev_usb_watcher.h"

namespace vistrelle::usb {

struct LinuxUsbBackend::Context {
  std::shared_ptr<libusb_context> usb;
  std::string error;  // why the context could not be made
};

namespace {

struct DeviceListFree {
  void operator()(libusb_device** list) const { libusb_free_device_list(list, 1); }
};
using DeviceList = std::unique_ptr<libusb_device*, DeviceListFree>;

std::string usbErrorText(int rc) {
  return std::string(libusb_error_name(rc)) + " (" + libusb_strerror(rc) + ")";
}

}  // namespace

LinuxUsbBackend::LinuxUsbBackend() = default;
LinuxUsbBackend::~LinuxUsbBackend() = default;

std::shared_ptr<UsbBackend> LinuxUsbBackend::create() {
  return std::make_shared<LinuxUsbBackend>();
}

std::unique_ptr<UsbWatcher> LinuxUsbBackend::createWatcher() {
  return std::make_unique<UdevUsbWatcher>();
}

UsbOpenResult LinuxUsbBackend::open(const UsbDeviceInfo& device) {
  std::shared_ptr<Context> context;
  {
    std::lock_guard lock(mutex_);
    if (!context_) {
      context_ = std::make_shared<Context>();
      libusb_context* raw = nullptr;
      if (int rc = libusb_init(&raw); rc != LIBUSB_SUCCESS) {
        context_->error = "libusb cannot start: " + usbErrorText(rc);
      } else {
        context_->usb.reset(raw, [](libusb_context* c) { libusb_exit(c); });
      }
    }
    context = context_;
  }
  UsbOpenResult result;
  if (!context->usb) {
    result.reason = context->error;
    return result;
  }

  libusb_device** raw = nullptr;
  ssize_t count = libusb_get_device_list(context->usb.get(), &raw);
  if (count < 0) {
    result.reason = "cannot list USB devices: " + usbErrorText(static_cast<int>(count));
    return result;
  }
  DeviceList list(raw);
  libusb_device* found = nullptr;
  for (ssize_t i = 0; i < count; ++i) {
    if (libusb_get_bus_number(list.get()[i]) == device.busNumber &&
        libusb_get_device_address(list.get()[i]) == device.deviceAddress) {
      found = list.get()[i];
      break;
    }
  }
  if (found == nullptr) {
    result.reason = "device " + std::to_string(device.busNumber) + "-" +
                    std::to_string(device.deviceAddress) + " is no longer attached";
    return result;
  }

  libusb_device_descriptor descriptor{};
  if (int rc = libusb_get_device_descriptor(found, &descriptor); rc == LIBUSB_SUCCESS) {
    result.vendorId = descriptor.idVendor;
    result.productId = descriptor.idProduct;
  }

  libusb_device_handle* handle = nullptr;
  int rc = libusb_open(found, &handle);
  if (rc == LIBUSB_SUCCESS) {
    auto opened = std::make_unique<LibusbHandle>(context->usb, handle);
    result.vendorId = opened->vendorId();
    result.productId = opened->productId();
    result.handle = std::move(opened);
    result.status = UsbOpenStatus::Opened;
  } else if (rc == LIBUSB_ERROR_BUSY) {
    result.status = UsbOpenStatus::ExclusiveAccess;
    result.reason = usbErrorText(rc);
  } else {
    result.reason = usbErrorText(rc);
  }
  return result;
}

}  // namespace vistrelle::usb
