// Fuzz target: the HID report-descriptor parser, fed the bytes a device
// hands over through HIDIOCGRDESC (any length, any items), and the framing
// built on its answer.
// Input: the descriptor; the last byte doubles as the report ID written.
// Links: vistrelle_platform_hid

#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/hid/hid_report_frame.h"
#include "platform/hid/hid_report_layout.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vistrelle::hid;
  const std::span<const uint8_t> descriptor(data, size);
  const HidReportLayout layout = parseReportDescriptor(descriptor);

  // Sizes stay within the kernel's buffer; without IDs only report 0 exists.
  for (const auto* sizes : {&layout.inputBytes, &layout.outputBytes, &layout.featureBytes}) {
    for (const auto& [id, bytes] : *sizes) {
      FUZZ_CHECK(bytes <= HidReportLayout::kMaxReportBytes);
      if (!layout.usesReportIds) FUZZ_CHECK(id == 0);
    }
  }
  FUZZ_CHECK(layout.maxInputBytes() <= HidReportLayout::kMaxReportBytes);
  // The same bytes parse the same way again.
  FUZZ_CHECK(parseReportDescriptor(descriptor) == layout);

  // A write framed on this layout: the ID byte, then exactly the report.
  const uint8_t reportId = size > 0 ? data[size - 1] : 2;
  const std::vector<uint8_t> frame = frameOutputReport(layout, reportId, descriptor);
  FUZZ_CHECK(frame.size() == 1 + size_t{outputReportBytes(layout, reportId)});
  FUZZ_CHECK(frame[0] == (layout.usesReportIds ? reportId : 0));
  // A read of these bytes: the ID byte goes only when IDs are declared.
  const HidInputReport report = stripInputReport(layout, descriptor);
  FUZZ_CHECK(report.bytes.size() + (layout.usesReportIds && size > 0 ? 1 : 0) == size);
  return 0;
}
