#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vistrelle::base {

// Base64 (RFC 4648 section 4, "=" padded) and its URL form (section 5,
// unpadded).
class MF_Base64Codec {
 public:
  static std::string base64StringFromData(std::span<const std::uint8_t> data);

  // Lenient: every character outside the alphabet ("=", white space, line
  // breaks, anything else) is skipped; a trailing group of two or three
  // characters gives one or two bytes, a single left-over character nothing.
  static std::vector<std::uint8_t> dataFromBase64String(std::string_view text);

  // Strict: the text must be padded Base64 of canonical form (length a
  // multiple of four, only alphabet characters, "=" only as the final one or
  // two, unused bits zero); none otherwise.
  static std::optional<std::vector<std::uint8_t>> strictDataFromBase64String(std::string_view text);

  // Removes every "=", then "+" -> "-" and "/" -> "_".
  static std::string base64UrlEncodedStringFromBase64String(std::string_view base64);

  // "-" -> "+", "_" -> "/", then pads to a multiple of four: a length of 2
  // modulo 4 gets "==", 3 gets "=".
  static std::string base64StringFromBase64UrlEncodedString(std::string_view url);
};

}  // namespace vistrelle::base
