#include "base/helpers/utf8.h"

namespace vistrelle::base {

namespace {

// The shape of a sequence as its lead byte announces it.
struct SequenceStart {
  std::size_t length;  // 0: not a lead byte
  char32_t bits;       // the value bits the lead byte carries
  char32_t minimum;    // the smallest value this length may encode
};

SequenceStart sequenceStart(unsigned char lead) {
  if (lead < 0x80) return {1, lead, 0};
  if ((lead & 0xE0) == 0xC0) return {2, static_cast<char32_t>(lead & 0x1F), 0x80};
  if ((lead & 0xF0) == 0xE0) return {3, static_cast<char32_t>(lead & 0x0F), 0x800};
  if ((lead & 0xF8) == 0xF0) return {4, static_cast<char32_t>(lead & 0x07), 0x10000};
  return {0, 0, 0};
}

}  // namespace

bool isValidUtf8(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    const SequenceStart start = sequenceStart(static_cast<unsigned char>(bytes[i]));
    if (start.length == 0 || bytes.size() - i < start.length) return false;
    char32_t value = start.bits;
    for (std::size_t k = 1; k < start.length; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      value = (value << 6) | (next & 0x3F);
    }
    if (value < start.minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
      return false;
    }
    i += start.length;
  }
  return true;
}

}  // namespace vistrelle::base
