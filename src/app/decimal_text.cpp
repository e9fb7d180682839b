#include "app/decimal_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace vistrelle {

std::optional<SignificantDecimal> roundToSignificantDigits(double value, int maxDigits) {
  if (!std::isfinite(value) || maxDigits < 1 || maxDigits > 17) return std::nullopt;
  if (value == 0) return SignificantDecimal{0, 0};
  // printf rounds the exact binary value to the nearest decimal (ties to
  // even), which is the formatter's rounding.
  char text[40];
  const int length = std::snprintf(text, sizeof text, "%.*e", maxDigits - 1, value);
  if (length <= 0 || length >= static_cast<int>(sizeof text)) return std::nullopt;
  const std::string_view all(text, static_cast<size_t>(length));
  const size_t e = all.find('e');
  if (e == std::string_view::npos) return std::nullopt;
  int exponent = 0;
  const auto [end, error] = std::from_chars(all.data() + e + 1 + (all[e + 1] == '+' ? 1 : 0),
                                            all.data() + all.size(), exponent);
  if (error != std::errc()) return std::nullopt;
  // Significant digits of the mantissa, trailing zeros dropped (one stays).
  std::string digits;
  for (char c : all.substr(0, e)) {
    if (c >= '0' && c <= '9') digits += c;
  }
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  const int decimals = std::max(0, static_cast<int>(digits.size()) - 1 - exponent);
  return SignificantDecimal{std::strtod(text, nullptr), decimals};
}

std::optional<std::string> formatSignificantInCLocale(double value) {
  const auto rounded = roundToSignificantDigits(value);
  if (!rounded) return std::nullopt;
  char text[400];
  const int length = std::snprintf(text, sizeof text, "%.*f", rounded->decimals, rounded->value);
  if (length <= 0 || length >= static_cast<int>(sizeof text)) return std::nullopt;
  return std::string(text, static_cast<size_t>(length));
}

std::optional<float> parseFloatInCLocale(std::string_view text) {
  float value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::string shortestText(float value) {
  char text[64];
  const auto [end, error] = std::to_chars(text, text + sizeof text, value);
  if (error != std::errc()) return {};
  return std::string(text, end);
}

std::string shortestText(double value) {
  char text[64];
  const auto [end, error] = std::to_chars(text, text + sizeof text, value);
  if (error != std::errc()) return {};
  return std::string(text, end);
}

}  // namespace vistrelle
