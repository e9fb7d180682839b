#pragma once

#include <chrono>
#include <string>

namespace vistrelle::bus {

// One property of a remote object, read through org.freedesktop.DBus.Properties.
struct BusProperty {
  std::string destination;
  std::string path;
  std::string interface;
  std::string name;
  std::chrono::milliseconds timeout{25000};
};

}  // namespace vistrelle::bus
