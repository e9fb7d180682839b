#include "platform/hid/hid_report_frame.h"

#include <algorithm>

namespace vistrelle::hid {

uint32_t outputReportBytes(const HidReportLayout& layout, uint8_t reportId) {
  const auto declared = layout.outputBytesFor(reportId);
  return declared && *declared > 0 ? *declared : kDefaultOutputBytes;
}

std::vector<uint8_t> frameOutputReport(const HidReportLayout& layout, uint8_t reportId,
                                       std::span<const uint8_t> payload) {
  const uint32_t size = outputReportBytes(layout, reportId);
  std::vector<uint8_t> frame(size_t{1} + size, 0);
  frame[0] = layout.usesReportIds ? reportId : uint8_t{0};
  const size_t copied = std::min<size_t>(size, payload.size());
  std::copy_n(payload.begin(), copied, frame.begin() + 1);
  return frame;
}

HidInputReport stripInputReport(const HidReportLayout& layout, std::span<const uint8_t> raw) {
  if (!layout.usesReportIds) return {0, raw};
  if (raw.empty()) return {0, raw};
  return {raw[0], raw.subspan(1)};
}

}  // namespace vistrelle::hid
