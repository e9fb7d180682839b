#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "device/monitors/usb_monitor_data.h"

namespace vistrelle::device {

enum class GlassesDeviceRole {
  Glasses,     // glasses that take commands
  BootLoader,  // glasses in their firmware boot loader
  Wake,        // an auxiliary wake device
};

struct GlassesDeviceRow {
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  GlassesDeviceRole role = GlassesDeviceRole::Glasses;
  // The glasses generation the device sets on arrival; none keeps the
  // previous one.
  std::optional<int32_t> generation;
};

// The one table of devices the application watches.  It feeds the HID
// monitor's matching, the generation rule and the udev rule file
// (resources/udev/70-vistrelle.rules, written by the vistrelle_udev_rules
// build target), so these can never disagree.
class GlassesDeviceTable {
 public:
  static constexpr uint16_t kBootLoaderVendorId = 0x0416;
  static constexpr uint16_t kBootLoaderProductId = 0x3F00;

  // The rows, in the order the monitor matches them.
  static std::span<const GlassesDeviceRow> rows();
  // The monitor's matching list: every row's ids, in order.
  static std::vector<USBMonitorData> monitorData();

  static const GlassesDeviceRow* find(uint16_t vendorId, uint16_t productId);
  // The generation a device sets on arrival; none leaves it unchanged (an
  // unknown pair included).
  static std::optional<int32_t> generationRule(uint16_t vendorId, uint16_t productId);
  static bool isWakeDevice(uint16_t vendorId, uint16_t productId);
  static bool isBootLoader(uint16_t vendorId, uint16_t productId);

  // The udev rule file: comment lines, then one line per row giving the user
  // at the seat access to the device's hidraw nodes.
  static std::string udevRules();
  // One row's rule line:
  // SUBSYSTEM=="hidraw", ATTRS{idVendor}=="0483", ATTRS{idProduct}=="5750", TAG+="uaccess"
  static std::string udevRuleLine(const GlassesDeviceRow& row);
};

}  // namespace vistrelle::device
