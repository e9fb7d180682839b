// Fuzz target: the EDID monitor-name reader, fed what a monitor (or a driver,
// or any client setting the output property) puts in the EDID property.
// Input: the EDID bytes, any length.
// Links: vistrelle_platform_display

#include <string>

#include "fuzz/fuzz_support.h"
#include "platform/display/edid_monitor_name.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using vistrelle::display::edidMonitorName;
  const std::span<const uint8_t> edid(data, size);
  const std::optional<std::string> name = edidMonitorName(edid);
  if (!name) return 0;

  // Only a whole base block with the EDID header holds a name.
  FUZZ_CHECK(size >= 128);
  FUZZ_CHECK(data[0] == 0x00 && data[7] == 0x00);
  // At most the descriptor's 13 bytes, printable, no trailing space: safe
  // for a log line, a window title or a comparison.
  FUZZ_CHECK(!name->empty() && name->size() <= 13);
  for (char c : *name) FUZZ_CHECK(c >= 0x20 && c <= 0x7E);
  FUZZ_CHECK(name->back() != ' ');
  // Only the base block counts: extension blocks change nothing.
  FUZZ_CHECK(edidMonitorName(edid.first(128)) == name);
  return 0;
}
