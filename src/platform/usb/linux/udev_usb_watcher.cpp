#include "platform/usb/linux/udev_usb_watcher.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <string_view>

#include "platform/usb/usb_error.h"

namespace vistrelle::usb {
namespace {

constexpr const char* kSubsystem = "usb";
constexpr const char* kDevType = "usb_device";

std::string errnoText(int error) {
  return std::strerror(error);
}

// Hexadecimal text of at most four digits, whole.
std::optional<uint16_t> parseHex16(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
  if (text.empty() || text.size() > 4) return std::nullopt;
  unsigned value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return static_cast<uint16_t>(value);
}

std::optional<unsigned> parseDecimal(const char* text) {
  if (text == nullptr) return std::nullopt;
  std::string_view view(text);
  unsigned value = 0;
  auto [end, ec] = std::from_chars(view.data(), view.data() + view.size(), value, 10);
  if (ec != std::errc() || end != view.data() + view.size() || value > 255) return std::nullopt;
  return value;
}

bool isUsbDevice(udev_device* device) {
  const char* subsystem = udev_device_get_subsystem(device);
  const char* devtype = udev_device_get_devtype(device);
  return subsystem != nullptr && devtype != nullptr && std::strcmp(subsystem, kSubsystem) == 0 &&
         std::strcmp(devtype, kDevType) == 0;
}

// udevd announces itself through its control socket.
bool udevdRuns() {
  return ::access("/run/udev/control", F_OK) == 0;
}

}  // namespace

UdevUsbWatcher::UdevUsbWatcher() : udev_(udev_new()) {
  if (!udev_) throw UsbError("cannot create a udev context: " + errnoText(errno));
  source_ = udevdRuns() ? "udev" : "kernel";
  monitor_.reset(udev_monitor_new_from_netlink(udev_.get(), source_.c_str()));
  if (!monitor_ && source_ == "udev") {
    source_ = "kernel";
    monitor_.reset(udev_monitor_new_from_netlink(udev_.get(), source_.c_str()));
  }
  if (!monitor_)
    throw UsbError("cannot open a netlink monitor for USB devices: " + errnoText(errno));
  if (int rc =
          udev_monitor_filter_add_match_subsystem_devtype(monitor_.get(), kSubsystem, kDevType);
      rc < 0) {
    throw UsbError("cannot filter USB device events: " + errnoText(-rc));
  }
  if (int rc = udev_monitor_enable_receiving(monitor_.get()); rc < 0) {
    throw UsbError("cannot receive USB device events: " + errnoText(-rc));
  }
}

int UdevUsbWatcher::fd() const {
  return udev_monitor_get_fd(monitor_.get());
}

std::vector<UsbEvent> UdevUsbWatcher::readEvents() {
  std::vector<UsbEvent> events;
  // The monitor's socket is non-blocking: this stops when it is drained.
  while (udev_ptr::UdevDevicePtr device{udev_monitor_receive_device(monitor_.get())}) {
    if (!isUsbDevice(device.get())) continue;
    const char* action = udev_device_get_action(device.get());
    if (action == nullptr) continue;
    if (std::strcmp(action, "add") == 0) {
      events.push_back({UsbAction::Added, describe(device.get())});
    } else if (std::strcmp(action, "remove") == 0) {
      events.push_back({UsbAction::Removed, describe(device.get())});
    }
  }
  return events;
}

std::vector<UsbDeviceInfo> UdevUsbWatcher::enumerate() {
  udev_ptr::UdevEnumeratePtr enumeration{udev_enumerate_new(udev_.get())};
  if (!enumeration) throw UsbError("cannot enumerate USB devices: " + errnoText(errno));
  if (int rc = udev_enumerate_add_match_subsystem(enumeration.get(), kSubsystem); rc < 0) {
    throw UsbError("cannot enumerate USB devices: " + errnoText(-rc));
  }
  if (int rc = udev_enumerate_scan_devices(enumeration.get()); rc < 0) {
    throw UsbError("cannot scan USB devices: " + errnoText(-rc));
  }
  std::vector<UsbDeviceInfo> devices;
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration.get())) {
    udev_ptr::UdevDevicePtr device{
        udev_device_new_from_syspath(udev_.get(), udev_list_entry_get_name(entry))};
    // A device unplugged during the scan has no syspath left: it is skipped.
    if (!device || !isUsbDevice(device.get())) continue;
    devices.push_back(describe(device.get()));
  }
  return devices;
}

UsbDeviceInfo UdevUsbWatcher::describe(udev_device* device) {
  UsbDeviceInfo info;
  if (const char* path = udev_device_get_syspath(device)) info.sysPath = path;
  auto bus = parseDecimal(udev_device_get_property_value(device, "BUSNUM"));
  auto address = parseDecimal(udev_device_get_property_value(device, "DEVNUM"));
  if (!bus) bus = parseDecimal(udev_device_get_sysattr_value(device, "busnum"));
  if (!address) address = parseDecimal(udev_device_get_sysattr_value(device, "devnum"));
  info.busNumber = static_cast<uint8_t>(bus.value_or(0));
  info.deviceAddress = static_cast<uint8_t>(address.value_or(0));
  info.id = makeUsbDeviceId(info.busNumber, info.deviceAddress);

  if (const char* vendor = udev_device_get_sysattr_value(device, "idVendor")) {
    info.vendorId = parseHex16(vendor);
  }
  if (const char* product = udev_device_get_sysattr_value(device, "idProduct")) {
    info.productId = parseHex16(product);
  }
  if (!info.vendorId || !info.productId) {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    if (parseProductProperty(udev_device_get_property_value(device, "PRODUCT"), vendorId,
                             productId)) {
      info.vendorId = vendorId;
      info.productId = productId;
    }
  }
  if (const char* name = udev_device_get_sysattr_value(device, "product")) info.name = name;
  return info;
}

bool UdevUsbWatcher::parseProductProperty(const char* text, uint16_t& vendorId,
                                          uint16_t& productId) {
  if (text == nullptr) return false;
  std::string_view view(text);
  size_t first = view.find('/');
  if (first == std::string_view::npos) return false;
  size_t second = view.find('/', first + 1);
  if (second == std::string_view::npos) return false;
  auto vendor = parseHex16(view.substr(0, first));
  auto product = parseHex16(view.substr(first + 1, second - first - 1));
  if (!vendor || !product) return false;
  vendorId = *vendor;
  productId = *product;
  return true;
}

}  // namespace vistrelle::usb
