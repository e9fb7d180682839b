#include "platform/hid/linux/udev_hidraw_watcher.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/hid/hid_error.h"
#include "platform/hid/linux/hidraw_node_description.h"

namespace vistrelle::hid {
namespace {

constexpr const char* kSubsystem = "hidraw";

std::optional<std::string> text(const char* value) {
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

bool udevdRuns() {
  return ::access("/run/udev/control", F_OK) == 0;
}

}  // namespace

UdevHidrawWatcher::UdevHidrawWatcher() : udev_(udev_new()) {
  if (!udev_) throw HidError(std::string("cannot create a udev context: ") + std::strerror(errno));
  source_ = udevdRuns() ? "udev" : "kernel";
  monitor_.reset(udev_monitor_new_from_netlink(udev_.get(), source_.c_str()));
  if (!monitor_ && source_ == "udev") {
    source_ = "kernel";
    monitor_.reset(udev_monitor_new_from_netlink(udev_.get(), source_.c_str()));
  }
  if (!monitor_) {
    throw HidError(std::string("cannot open a netlink monitor for hidraw nodes: ") +
                   std::strerror(errno));
  }
  if (int rc = udev_monitor_filter_add_match_subsystem_devtype(monitor_.get(), kSubsystem, nullptr);
      rc < 0) {
    throw HidError(std::string("cannot filter hidraw events: ") + std::strerror(-rc));
  }
  if (int rc = udev_monitor_enable_receiving(monitor_.get()); rc < 0) {
    throw HidError(std::string("cannot receive hidraw events: ") + std::strerror(-rc));
  }
}

int UdevHidrawWatcher::fd() const {
  return udev_monitor_get_fd(monitor_.get());
}

std::vector<HidEvent> UdevHidrawWatcher::readEvents() {
  std::vector<HidEvent> events;
  // The monitor's socket is non-blocking: this stops when it is drained.
  while (udev_ptr::UdevDevicePtr node{udev_monitor_receive_device(monitor_.get())}) {
    const char* action = udev_device_get_action(node.get());
    if (action == nullptr) continue;
    if (std::strcmp(action, "add") == 0) {
      events.push_back({HidAction::Added, describe(node.get())});
    } else if (std::strcmp(action, "remove") == 0) {
      events.push_back({HidAction::Removed, describe(node.get())});
    }
  }
  return events;
}

std::vector<HidDeviceInfo> UdevHidrawWatcher::enumerate() {
  udev_ptr::UdevEnumeratePtr enumeration{udev_enumerate_new(udev_.get())};
  if (!enumeration) {
    throw HidError(std::string("cannot enumerate hidraw nodes: ") + std::strerror(errno));
  }
  if (int rc = udev_enumerate_add_match_subsystem(enumeration.get(), kSubsystem); rc < 0) {
    throw HidError(std::string("cannot enumerate hidraw nodes: ") + std::strerror(-rc));
  }
  if (int rc = udev_enumerate_scan_devices(enumeration.get()); rc < 0) {
    throw HidError(std::string("cannot scan hidraw nodes: ") + std::strerror(-rc));
  }
  std::vector<HidDeviceInfo> nodes;
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumeration.get())) {
    udev_ptr::UdevDevicePtr node{
        udev_device_new_from_syspath(udev_.get(), udev_list_entry_get_name(entry))};
    // A node unplugged during the scan has no syspath left: it is skipped.
    if (!node) continue;
    HidDeviceInfo info = describe(node.get());
    if (!info.path.empty()) nodes.push_back(std::move(info));
  }
  return nodes;
}

HidDeviceInfo UdevHidrawWatcher::describe(udev_device* node) {
  HidrawNodeAttributes attributes;
  attributes.devnode = text(udev_device_get_devnode(node));
  // The parents are looked up from sysfs, which a removed node no longer has:
  // then they are simply missing.  They belong to `node`, not to us.
  if (udev_device* usb = udev_device_get_parent_with_subsystem_devtype(node, "usb", "usb_device")) {
    attributes.usbSysname = text(udev_device_get_sysname(usb));
    attributes.idVendor = text(udev_device_get_sysattr_value(usb, "idVendor"));
    attributes.idProduct = text(udev_device_get_sysattr_value(usb, "idProduct"));
    attributes.bcdDevice = text(udev_device_get_sysattr_value(usb, "bcdDevice"));
    attributes.product = text(udev_device_get_sysattr_value(usb, "product"));
  }
  if (udev_device* hid = udev_device_get_parent_with_subsystem_devtype(node, "hid", nullptr)) {
    attributes.hidId = text(udev_device_get_property_value(hid, "HID_ID"));
  }
  return describeHidrawNode(attributes);
}

}  // namespace vistrelle::hid
