#include "platform/hid/hid_report_layout.h"

#include <algorithm>
#include <array>

namespace vistrelle::hid {
namespace {

// Item types and tags of the short items this parser acts on.
constexpr uint8_t kTypeMain = 0;
constexpr uint8_t kTypeGlobal = 1;
constexpr uint8_t kTagInput = 0x8;
constexpr uint8_t kTagOutput = 0x9;
constexpr uint8_t kTagFeature = 0xB;
constexpr uint8_t kTagReportSize = 0x7;
constexpr uint8_t kTagReportId = 0x8;
constexpr uint8_t kTagReportCount = 0x9;
constexpr uint8_t kTagPush = 0xA;
constexpr uint8_t kTagPop = 0xB;
constexpr uint8_t kLongItemPrefix = 0xFE;
// The kernel's own limit on Push without Pop.
constexpr size_t kMaxGlobalStack = 4;

struct Globals {
  uint64_t reportSize = 0;   // bits per field
  uint64_t reportCount = 0;  // fields
  uint8_t reportId = 0;
};

// Bits per report, saturating far below overflow: one bit beyond the limit is
// as refused as a billion.
void addBits(std::map<uint8_t, uint64_t>& bits, uint8_t reportId, uint64_t more) {
  constexpr uint64_t kCap = uint64_t{HidReportLayout::kMaxReportBytes} * 8 + 8;
  uint64_t& total = bits[reportId];
  total = std::min(kCap, total + std::min(kCap, more));
}

std::map<uint8_t, uint32_t> toBytes(const std::map<uint8_t, uint64_t>& bits, bool& wellFormed) {
  std::map<uint8_t, uint32_t> bytes;
  for (const auto& [id, count] : bits) {
    uint64_t size = (count + 7) / 8;
    if (size > HidReportLayout::kMaxReportBytes) {
      wellFormed = false;
      size = HidReportLayout::kMaxReportBytes;
    }
    bytes[id] = static_cast<uint32_t>(size);
  }
  return bytes;
}

}  // namespace

uint32_t HidReportLayout::maxInputBytes() const {
  uint32_t largest = 0;
  for (const auto& [id, size] : inputBytes) largest = std::max(largest, size);
  return largest;
}

std::optional<uint32_t> HidReportLayout::outputBytesFor(uint8_t reportId) const {
  auto it = outputBytes.find(usesReportIds ? reportId : uint8_t{0});
  if (it == outputBytes.end()) return std::nullopt;
  return it->second;
}

HidReportLayout parseReportDescriptor(std::span<const uint8_t> descriptor) {
  HidReportLayout layout;
  const bool oversized = descriptor.size() > HidReportLayout::kMaxDescriptorBytes;
  if (oversized) descriptor = descriptor.first(HidReportLayout::kMaxDescriptorBytes);
  std::map<uint8_t, uint64_t> inputBits;
  std::map<uint8_t, uint64_t> outputBits;
  std::map<uint8_t, uint64_t> featureBits;
  Globals globals;
  std::array<Globals, kMaxGlobalStack> stack{};
  size_t depth = 0;

  // Stops at the first fault; what was read before it is kept.
  size_t at = 0;
  while (at < descriptor.size() && layout.wellFormed) {
    const uint8_t prefix = descriptor[at];
    if (prefix == kLongItemPrefix) {
      // bDataSize and bLongItemTag follow; no long item tags are defined.
      if (descriptor.size() - at < 3) {
        layout.wellFormed = false;
        break;
      }
      const size_t length = 3 + size_t{descriptor[at + 1]};
      if (descriptor.size() - at < length) {
        layout.wellFormed = false;
        break;
      }
      at += length;
      continue;
    }
    static constexpr std::array<size_t, 4> kDataSizes{0, 1, 2, 4};
    const size_t dataSize = kDataSizes[prefix & 0x3];
    const uint8_t type = (prefix >> 2) & 0x3;
    const uint8_t tag = prefix >> 4;
    if (descriptor.size() - at - 1 < dataSize) {
      layout.wellFormed = false;
      break;
    }
    uint32_t value = 0;
    for (size_t i = 0; i < dataSize; ++i) {
      value |= uint32_t{descriptor[at + 1 + i]} << (8 * i);
    }
    at += 1 + dataSize;

    if (type == kTypeGlobal) {
      switch (tag) {
        case kTagReportSize:
          globals.reportSize = value;
          break;
        case kTagReportCount:
          globals.reportCount = value;
          break;
        case kTagReportId:
          // ID 0 is reserved and IDs are one byte: the kernel refuses both.
          if (value == 0 || value > 0xFF) {
            layout.wellFormed = false;
          } else {
            layout.usesReportIds = true;
            globals.reportId = static_cast<uint8_t>(value);
          }
          break;
        case kTagPush:
          if (depth == stack.size()) {
            layout.wellFormed = false;
          } else {
            stack[depth++] = globals;
          }
          break;
        case kTagPop:
          if (depth == 0) {
            layout.wellFormed = false;
          } else {
            globals = stack[--depth];
          }
          break;
        default:
          break;
      }
    } else if (type == kTypeMain) {
      const uint64_t bits = globals.reportSize * globals.reportCount;
      if (tag == kTagInput) {
        addBits(inputBits, globals.reportId, bits);
      } else if (tag == kTagOutput) {
        addBits(outputBits, globals.reportId, bits);
      } else if (tag == kTagFeature) {
        addBits(featureBits, globals.reportId, bits);
      }
    }
  }
  if (oversized) layout.wellFormed = false;
  layout.inputBytes = toBytes(inputBits, layout.wellFormed);
  layout.outputBytes = toBytes(outputBits, layout.wellFormed);
  layout.featureBytes = toBytes(featureBits, layout.wellFormed);
  return layout;
}

}  // namespace vistrelle::hid
