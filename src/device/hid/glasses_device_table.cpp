#include "device/hid/glasses_device_table.h"

#include <array>
#include <cstdio>

namespace vistrelle::device {
namespace {

using Role = GlassesDeviceRole;

constexpr std::array<GlassesDeviceRow, 11> kRows{{
    {0x0483, 0x5750, Role::Glasses, 1},
    {0xFFFF, 0x8866, Role::Glasses, 2},
    {0x0483, 0x8005, Role::Glasses, 2},
    {0x0483, 0x8004, Role::Glasses, 2},
    {0x0483, 0x8003, Role::Glasses, 2},
    {0x0483, 0x8002, Role::Glasses, 2},
    {0x0483, 0x8001, Role::Glasses, 2},
    {0x3318, 0x0428, Role::Glasses, std::nullopt},
    {GlassesDeviceTable::kBootLoaderVendorId, GlassesDeviceTable::kBootLoaderProductId,
     Role::BootLoader, 2},
    {0x1234, 0x5678, Role::Wake, std::nullopt},
    {0x0483, 0x6001, Role::Wake, std::nullopt},
}};

}  // namespace

std::span<const GlassesDeviceRow> GlassesDeviceTable::rows() {
  return kRows;
}

std::vector<USBMonitorData> GlassesDeviceTable::monitorData() {
  std::vector<USBMonitorData> data;
  for (const auto& row : kRows) data.push_back({row.vendorId, row.productId});
  return data;
}

const GlassesDeviceRow* GlassesDeviceTable::find(uint16_t vendorId, uint16_t productId) {
  for (const auto& row : kRows) {
    if (row.vendorId == vendorId && row.productId == productId) return &row;
  }
  return nullptr;
}

std::optional<int32_t> GlassesDeviceTable::generationRule(uint16_t vendorId, uint16_t productId) {
  const GlassesDeviceRow* row = find(vendorId, productId);
  return row ? row->generation : std::nullopt;
}

bool GlassesDeviceTable::isWakeDevice(uint16_t vendorId, uint16_t productId) {
  const GlassesDeviceRow* row = find(vendorId, productId);
  return row && row->role == Role::Wake;
}

bool GlassesDeviceTable::isBootLoader(uint16_t vendorId, uint16_t productId) {
  const GlassesDeviceRow* row = find(vendorId, productId);
  return row && row->role == Role::BootLoader;
}

std::string GlassesDeviceTable::udevRuleLine(const GlassesDeviceRow& row) {
  char line[128];
  std::snprintf(line, sizeof line,
                "SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"%04x\", ATTRS{idProduct}==\"%04x\", "
                "TAG+=\"uaccess\"",
                unsigned{row.vendorId}, unsigned{row.productId});
  return line;
}

std::string GlassesDeviceTable::udevRules() {
  std::string text =
      "# Vistrelle: the user at the seat may open the hidraw nodes of the Orvex glasses,\n"
      "# their firmware boot loader and their wake devices.\n"
      "# Generated from src/device/hid/glasses_device_table.cpp by the vistrelle_udev_rules\n"
      "# build target; do not edit.\n";
  for (const auto& row : kRows) text += udevRuleLine(row) + "\n";
  return text;
}

}  // namespace vistrelle::device
