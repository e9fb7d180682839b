#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace vistrelle::display {

// The monitor's name from its EDID: the first monitor-name descriptor (tag
// 0xFC) of the 128-byte base block, its 13 bytes cut at the first 0x0A and
// trailing spaces trimmed.  The bytes come from the monitor and are untrusted:
// anything but printable ASCII reads as '?'.  None for a block that is short,
// lacks the EDID header, holds no such descriptor or an empty name.
std::optional<std::string> edidMonitorName(std::span<const uint8_t> edid);

}  // namespace vistrelle::display
