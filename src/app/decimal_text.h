#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vistrelle {

// The settings panels round their values as a decimal formatter with at most
// two and at least one significant digits writes them, then read the text
// back in the C locale.

// A value rounded to `maxDigits` significant digits, and the number of
// decimals its shortest text needs (trailing zeros dropped).  None for a
// value that is not finite.
struct SignificantDecimal {
  double value = 0;
  int decimals = 0;
};
std::optional<SignificantDecimal> roundToSignificantDigits(double value, int maxDigits = 2);

// Formats a value with one to two significant digits, never in exponent
// form ("0.012", "0.0005", "0"); none when it cannot.  The panels take the
// user's locale; the default is the C locale.
using DecimalFormatter = std::function<std::optional<std::string>(double value)>;
std::optional<std::string> formatSignificantInCLocale(double value);

// The whole text as a single-precision number in the C locale; none when
// any of it is not part of the number ("0,012") or it is not finite.
std::optional<float> parseFloatInCLocale(std::string_view text);

// The shortest decimal text that reads back as the same number: 0.01f is
// "0.01".
std::string shortestText(float value);
std::string shortestText(double value);

}  // namespace vistrelle
