#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>

namespace vistrelle::hid {

// What a device's report descriptor says about the reports it exchanges: the
// size in bytes of each input, output and feature report by report ID (ID 0
// stands for the unnumbered reports), and whether report IDs are declared at
// all, which decides how reports are framed on a hidraw node.
struct HidReportLayout {
  // The largest report the parser accepts, as the kernel's own HID buffer.
  static constexpr uint32_t kMaxReportBytes = 16384;
  // The longest descriptor a device can hand over (HIDIOCGRDESC's limit).
  static constexpr size_t kMaxDescriptorBytes = 4096;

  bool usesReportIds = false;
  std::map<uint8_t, uint32_t> inputBytes;
  std::map<uint8_t, uint32_t> outputBytes;
  std::map<uint8_t, uint32_t> featureBytes;
  // False when the descriptor was cut short, malformed, or declared a report
  // beyond kMaxReportBytes; the sizes read up to that point are kept.
  bool wellFormed = true;

  // The largest input report (0 when none is declared).
  uint32_t maxInputBytes() const;
  // The size of output report `reportId` (of the unnumbered output report
  // when the descriptor declares no IDs); none when it is not declared.
  std::optional<uint32_t> outputBytesFor(uint8_t reportId) const;

  bool operator==(const HidReportLayout&) const = default;
};

// Reads a HID report descriptor (device bytes: untrusted).  Never reads past
// `descriptor`, never recurses, and bounds every count it keeps.
HidReportLayout parseReportDescriptor(std::span<const uint8_t> descriptor);

}  // namespace vistrelle::hid
