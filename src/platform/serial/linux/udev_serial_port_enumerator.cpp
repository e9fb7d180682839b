#include "platform/serial/linux/udev_serial_port_enumerator.h"

#include <fcntl.h>
#include <libudev.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <memory>
#include <string>

#include "platform/dispatch/unique_fd.h"
#include "platform/serial/serial_error.h"
#include "platform/udev/udev_ptr.h"

namespace vistrelle::serial {
namespace {

using udev_ptr::UdevDevicePtr;
using udev_ptr::UdevEnumeratePtr;
using udev_ptr::UdevPtr;

std::string errnoText(int error) {
  return std::strerror(error);
}

std::optional<std::string> text(const char* value) {
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

// PORT_UNKNOWN is 0 in both the ioctl and the sysfs "type" attribute.
constexpr int kPortUnknown = 0;

// The port type of a serial-core port: sysfs first, since opening a port
// every poll would toggle its modem lines; the driver (TIOCGSERIAL) where the
// attribute is missing.  None when neither says.
std::optional<int> serialPortType(udev_device* tty, const char* node) {
  if (const char* type = udev_device_get_sysattr_value(tty, "type")) {
    int value = 0;
    std::string_view view(type);
    while (!view.empty() && view.back() == '\n') view.remove_suffix(1);
    auto [end, ec] = std::from_chars(view.data(), view.data() + view.size(), value);
    if (ec == std::errc() && end == view.data() + view.size()) return value;
  }
  dispatch::UniqueFd fd(::open(node, O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd) {
    serial_struct info{};
    if (::ioctl(fd.get(), TIOCGSERIAL, &info) == 0) return info.type;
  }
  return std::nullopt;
}

bool isPhantomUart(udev_device* tty, const char* node) {
  const char* sysname = udev_device_get_sysname(tty);
  if (sysname == nullptr || std::strncmp(sysname, "ttyS", 4) != 0) return false;
  auto type = serialPortType(tty, node);
  return type && *type == kPortUnknown;
}

}  // namespace

std::shared_ptr<SerialPortEnumerator> UdevSerialPortEnumerator::create() {
  return std::make_shared<UdevSerialPortEnumerator>();
}

std::optional<int64_t> UdevSerialPortEnumerator::parseHexId(std::string_view value) {
  while (!value.empty() && (value.back() == '\n' || value.back() == ' ')) value.remove_suffix(1);
  if (value.empty() || value.size() > 4) return std::nullopt;
  unsigned parsed = 0;
  auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), parsed, 16);
  if (ec != std::errc() || end != value.data() + value.size()) return std::nullopt;
  return int64_t{parsed};
}

std::vector<SerialPortInfo> UdevSerialPortEnumerator::enumerate() {
  UdevPtr context(udev_new());
  if (!context) throw SerialError("cannot create a udev context: " + errnoText(errno));
  UdevEnumeratePtr enumeration(udev_enumerate_new(context.get()));
  if (!enumeration) throw SerialError("cannot enumerate tty devices: " + errnoText(errno));
  if (int rc = udev_enumerate_add_match_subsystem(enumeration.get(), "tty"); rc < 0) {
    throw SerialError("cannot enumerate tty devices: " + errnoText(-rc));
  }
  if (int rc = udev_enumerate_scan_devices(enumeration.get()); rc < 0) {
    throw SerialError("cannot scan tty devices: " + errnoText(-rc));
  }

  std::vector<SerialPortInfo> ports;
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration.get())) {
    UdevDevicePtr tty(udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
    if (!tty) continue;  // gone during the scan
    const char* node = udev_device_get_devnode(tty.get());
    if (node == nullptr) continue;
    // Borrowed: the parent lives as long as its child.
    if (udev_device_get_parent(tty.get()) == nullptr) continue;
    if (isPhantomUart(tty.get(), node)) continue;

    SerialPortInfo port;
    port.path = node;
    if (udev_device* usb =
            udev_device_get_parent_with_subsystem_devtype(tty.get(), "usb", "usb_device")) {
      port.name = text(udev_device_get_sysattr_value(usb, "product"));
      port.vendorName = text(udev_device_get_sysattr_value(usb, "manufacturer"));
      port.serialNumber = text(udev_device_get_sysattr_value(usb, "serial"));
      if (const char* vendor = udev_device_get_sysattr_value(usb, "idVendor")) {
        port.vendorId = parseHexId(vendor);
      }
      if (const char* product = udev_device_get_sysattr_value(usb, "idProduct")) {
        port.productId = parseHexId(product);
      }
    }
    ports.push_back(std::move(port));
  }
  return ports;
}

}  // namespace vistrelle::serial
