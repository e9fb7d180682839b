#include "ui/color_from_hex.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace vistrelle::ui {

namespace {

struct Digits {
  uint32_t value = 0;
  int count = 0;
};

Digits hexDigits(std::string_view text) {
  Digits digits;
  for (char c : text) {
    int nibble;
    if (c >= '0' && c <= '9') {
      nibble = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      nibble = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
      nibble = c - 'A' + 10;
    } else {
      continue;
    }
    // Past eight digits the text is refused anyway; stop shifting.
    if (++digits.count <= 8) digits.value = (digits.value << 4) | static_cast<uint32_t>(nibble);
  }
  return digits;
}

std::optional<QColor> build(std::string_view text, std::optional<double> alpha) {
  if (alpha) {
    if (!std::isfinite(*alpha)) return std::nullopt;
    alpha = std::clamp(*alpha, 0.0, 1.0);
  }
  const Digits digits = hexDigits(text);
  const uint32_t v = digits.value;
  QColor colour;
  if (digits.count == 6) {
    colour = QColor(static_cast<int>((v >> 16) & 0xFF), static_cast<int>((v >> 8) & 0xFF),
                    static_cast<int>(v & 0xFF));
    colour.setAlphaF(static_cast<float>(alpha.value_or(1.0)));
  } else if (digits.count == 8) {
    colour = QColor(static_cast<int>((v >> 24) & 0xFF), static_cast<int>((v >> 16) & 0xFF),
                    static_cast<int>((v >> 8) & 0xFF));
    if (alpha) {
      colour.setAlphaF(static_cast<float>(*alpha));
    } else {
      colour.setAlpha(static_cast<int>(v & 0xFF));
    }
  } else {
    return std::nullopt;
  }
  return colour;
}

}  // namespace

std::optional<QColor> colorFromHex(std::string_view text) {
  return build(text, std::nullopt);
}

std::optional<QColor> colorFromHex(std::string_view text, double alpha) {
  return build(text, alpha);
}

QColor hexColor(std::string_view text, double alpha) {
  auto colour = colorFromHex(text, alpha);
  if (!colour) {
    std::fprintf(stderr, "invalid colour constant \"%.*s\"\n", static_cast<int>(text.size()),
                 text.data());
    std::abort();
  }
  return *colour;
}

}  // namespace vistrelle::ui
