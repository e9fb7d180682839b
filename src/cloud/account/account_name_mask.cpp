#include "cloud/account/account_name_mask.h"

#include <vector>

#include "base/helpers/text_validators.h"

namespace vistrelle::cloud {

namespace {

constexpr std::string_view kMask = "****";

// Where each character of a well-formed UTF-8 text begins, and its end.
std::vector<size_t> characterStarts(std::string_view text) {
  std::vector<size_t> starts;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) starts.push_back(i);
  }
  starts.push_back(text.size());
  return starts;
}

}  // namespace

std::string maskAccountName(std::string_view text) {
  // Both patterns match only well-formed UTF-8, so the slicing below never
  // meets a broken character.
  if (base::isPhoneNumber(text)) {
    const std::vector<size_t> starts = characterStarts(text);
    const size_t characters = starts.size() - 1;  // 11
    std::string masked(text.substr(0, starts[3]));
    masked += kMask;
    masked += text.substr(starts[characters - 4]);
    return masked;
  }
  if (base::isEmail(text)) {
    // The pattern admits exactly one "@", with text on both sides; the local
    // part is ASCII, so its first character is one byte.
    const size_t at = text.find('@');
    std::string masked(text.substr(0, 1));
    masked += kMask;
    masked += text.substr(at);
    return masked;
  }
  return std::string(text);
}

}  // namespace vistrelle::cloud
