#pragma once

#include <cstdint>
#include <string>

#include "device/protocol/glass_command_report.h"
#include "platform/dispatch/clock.h"
#include "platform/value/value.h"

namespace vistrelle::sim {

// One output report as the simulated glasses received and decoded it.
struct SimCommandRecord {
  dispatch::TimePoint at{0};
  uint8_t reportId = 0;
  uint16_t group = 0;
  uint16_t command = 0;
  // The builder that makes this command ("glass_cmd_set_volume", ...), or
  // "unknown".
  std::string name;
  // The decoded parameters, by field name ("value", "level", "duty", "kind",
  // "offset", "length", "index", "temperature", "x", "y", "z", "flag",
  // "threshold1", "threshold2").
  Value::Map params;
  // False when the glasses ignored it: a command their generation or
  // firmware does not have, an unknown command, a bad header, or anything
  // sent while in the boot loader.
  bool applied = false;
  device::GlassCommandReport report;
};

}  // namespace vistrelle::sim
