#include "platform/bus/bus_names.h"

#include <cstdint>

namespace vistrelle::bus {

namespace {

constexpr size_t kMaxNameLength = 255;

bool isAlpha(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// Dot-separated elements, at least two, each non-empty; `allowDash` and
// `digitFirst` widen the characters as bus names allow.
bool isDottedName(std::string_view name, bool allowDash, bool digitFirst) {
  if (name.empty() || name.size() > kMaxNameLength) return false;
  int elements = 0;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('.', start);
    if (end == std::string_view::npos) end = name.size();
    const std::string_view element = name.substr(start, end - start);
    if (element.empty()) return false;
    for (size_t i = 0; i < element.size(); ++i) {
      const char c = element[i];
      const bool ok =
          isAlpha(c) || (allowDash && c == '-') || (isDigit(c) && (i > 0 || digitFirst));
      if (!ok) return false;
    }
    ++elements;
    start = end + 1;
  }
  return elements >= 2;
}

}  // namespace

bool isValidObjectPath(std::string_view path) {
  if (path.empty() || path[0] != '/') return false;
  if (path.size() == 1) return true;
  if (path.back() == '/') return false;
  char previous = '/';
  for (size_t i = 1; i < path.size(); ++i) {
    const char c = path[i];
    if (c == '/') {
      if (previous == '/') return false;
    } else if (!isAlpha(c) && !isDigit(c)) {
      return false;
    }
    previous = c;
  }
  return true;
}

bool isValidInterfaceName(std::string_view name) {
  return isDottedName(name, false, false);
}

bool isValidMemberName(std::string_view name) {
  if (name.empty() || name.size() > kMaxNameLength || !isAlpha(name[0])) return false;
  for (char c : name) {
    if (!isAlpha(c) && !isDigit(c)) return false;
  }
  return true;
}

bool isValidBusName(std::string_view name) {
  if (!name.empty() && name[0] == ':') return isDottedName(name.substr(1), true, true);
  return isDottedName(name, true, false);
}

bool isValidUtf8Text(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<uint8_t>(text[i]);
    if (byte == 0) return false;
    if (byte < 0x80) {
      ++i;
      continue;
    }
    int length;
    uint32_t codePoint;
    if ((byte & 0xE0) == 0xC0) {
      length = 2;
      codePoint = byte & 0x1F;
    } else if ((byte & 0xF0) == 0xE0) {
      length = 3;
      codePoint = byte & 0x0F;
    } else if ((byte & 0xF8) == 0xF0) {
      length = 4;
      codePoint = byte & 0x07;
    } else {
      return false;
    }
    if (i + static_cast<size_t>(length) > text.size()) return false;
    for (int k = 1; k < length; ++k) {
      const auto next = static_cast<uint8_t>(text[i + static_cast<size_t>(k)]);
      if ((next & 0xC0) != 0x80) return false;
      codePoint = (codePoint << 6) | (next & 0x3F);
    }
    static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (codePoint < kSmallest[length] || codePoint > 0x10FFFF ||
        (codePoint >= 0xD800 && codePoint <= 0xDFFF))
      return false;
    i += static_cast<size_t>(length);
  }
  return true;
}

}  // namespace vistrelle::bus
