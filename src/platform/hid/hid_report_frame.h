#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/hid/hid_report_layout.h"

namespace vistrelle::hid {

// How reports travel through a hidraw node (and the simulated bus, which
// frames them the same way).
//
// Writes always start with one byte naming the report: its ID when the
// descriptor declares IDs, 0x00 otherwise (the kernel drops it then).  The
// report itself is the output report's declared size (kDefaultOutputBytes
// when the descriptor declares none): `payload` cut to it, or padded with
// zeros up to it.
//
// Reads carry the ID byte first only when the descriptor declares IDs.
inline constexpr uint32_t kDefaultOutputBytes = 64;

// The size of output report `reportId` as written (without the ID byte).
uint32_t outputReportBytes(const HidReportLayout& layout, uint8_t reportId);

// One write: [ID or 0x00, report bytes].
std::vector<uint8_t> frameOutputReport(const HidReportLayout& layout, uint8_t reportId,
                                       std::span<const uint8_t> payload);

struct HidInputReport {
  uint8_t reportId = 0;  // 0 when the descriptor declares no IDs
  std::span<const uint8_t> bytes;
};

// One read as the node delivered it, split into ID and report bytes (a read
// of IDs-declared reports with nothing in it gives an empty report).
HidInputReport stripInputReport(const HidReportLayout& layout, std::span<const uint8_t> raw);

}  // namespace vistrelle::hid
