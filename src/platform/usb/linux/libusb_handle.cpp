#include "platform/usb/linux/libusb_handle.h"

namespace vistrelle::usb {

LibusbHandle::LibusbHandle(std::shared_ptr<libusb_context> context, libusb_device_handle* handle)
    : context_(std::move(context)), handle_(handle) {}

LibusbHandle::~LibusbHandle() {
  libusb_close(handle_);
}

std::optional<libusb_device_descriptor> LibusbHandle::descriptor() const {
  libusb_device_descriptor descriptor{};
  if (libusb_get_device_descriptor(libusb_get_device(handle_), &descriptor) != LIBUSB_SUCCESS) {
    return std::nullopt;
  }
  return descriptor;
}

std::optional<uint16_t> LibusbHandle::vendorId() const {
  if (auto d = descriptor()) return d->idVendor;
  return std::nullopt;
}

std::optional<uint16_t> LibusbHandle::productId() const {
  if (auto d = descriptor()) return d->idProduct;
  return std::nullopt;
}

}  // namespace vistrelle::usb
