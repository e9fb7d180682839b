#include "base/helpers/text_validators.h"

#include "base/helpers/pcre2_regex.h"

namespace vistrelle::base {

namespace {

constexpr std::string_view kPhonePattern = R"(^1\d{10}$)";
constexpr std::string_view kEmailPattern = R"(^[A-Za-z0-9._%+-]+@[A-Za-z0-9.-]+\.[A-Za-z]{2,}$)";
// Dot-separated atoms of letters, marks, digits and the usual symbols before
// the "@"; after it, labels that neither begin nor end with "-", and a final
// label of two or more letters.
constexpr std::string_view kUnicodeEmailPattern =
    R"(\A[\p{L}\p{M}\p{N}_%+-]+(?:\.[\p{L}\p{M}\p{N}_%+-]+)*)"
    R"(@(?:[\p{L}\p{M}\p{N}](?:[\p{L}\p{M}\p{N}-]*[\p{L}\p{M}\p{N}])?\.)+)"
    R"([\p{L}\p{M}]{2,}\z)";

}  // namespace

bool isPhoneNumber(std::string_view text) {
  return matchesRegex(text, kPhonePattern);
}

bool isEmail(std::string_view text) {
  return matchesRegex(text, kEmailPattern);
}

bool isValidEmailUnicode(std::string_view text) {
  return Pcre2Regex(kUnicodeEmailPattern).search(text);
}

bool isPhoneOrEmail(std::string_view text) {
  return isPhoneNumber(text) || isEmail(text);
}

bool matchesRegex(std::string_view text, std::string_view pattern) {
  return Pcre2Regex(pattern).matchesWhole(text);
}

}  // namespace vistrelle::base
