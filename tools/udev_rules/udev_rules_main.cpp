// Writes the udev rule file for the glasses' hidraw nodes from the device
// table: vistrelle-udev-rules <output file>.
#include <cstdio>
#include <fstream>
#include <iostream>

#include "device/hid/glasses_device_table.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: vistrelle-udev-rules <output file>\n";
    return 2;
  }
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out << vistrelle::device::GlassesDeviceTable::udevRules();
  out.close();
  if (!out) {
    std::cerr << "vistrelle-udev-rules: cannot write " << argv[1] << "\n";
    return 1;
  }
  return 0;
}
