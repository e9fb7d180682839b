#include "platform/display/edid_monitor_name.h"

#include <algorithm>
#include <array>

namespace vistrelle::display {
namespace {

constexpr size_t kBaseBlockBytes = 128;
constexpr std::array<uint8_t, 8> kHeader = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
// The four 18-byte descriptors of the base block.
constexpr size_t kDescriptorOffsets[] = {54, 72, 90, 108};
constexpr uint8_t kMonitorNameTag = 0xFC;
constexpr size_t kTextOffset = 5;
constexpr size_t kTextBytes = 13;

}  // namespace

std::optional<std::string> edidMonitorName(std::span<const uint8_t> edid) {
  if (edid.size() < kBaseBlockBytes) return std::nullopt;
  if (!std::equal(kHeader.begin(), kHeader.end(), edid.begin())) return std::nullopt;
  for (size_t offset : kDescriptorOffsets) {
    const std::span<const uint8_t> descriptor = edid.subspan(offset, 18);
    // A display descriptor, not a timing: pixel clock 0 and a zero byte.
    if (descriptor[0] != 0 || descriptor[1] != 0 || descriptor[2] != 0) continue;
    if (descriptor[3] != kMonitorNameTag) continue;
    std::string name;
    for (size_t i = 0; i < kTextBytes; ++i) {
      const uint8_t byte = descriptor[kTextOffset + i];
      if (byte == 0x0A) break;
      name.push_back(byte >= 0x20 && byte <= 0x7E ? static_cast<char>(byte) : '?');
    }
    while (!name.empty() && name.back() == ' ') name.pop_back();
    if (name.empty()) return std::nullopt;
    return name;
  }
  return std::nullopt;
}

}  // namespace vistrelle::display
