#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vistrelle::base {

// Base64 of a text's UTF-8 bytes, and of data.
std::string base64String(std::string_view text);
std::string base64String(std::span<const std::uint8_t> data);
std::string base64UrlEncodedString(std::string_view text);
std::string base64UrlEncodedString(std::span<const std::uint8_t> data);

// The decoded bytes read as UTF-8; none when they are not valid UTF-8.
std::optional<std::string> stringFromBase64String(std::string_view base64);
std::optional<std::string> stringFromBase64UrlEncodedString(std::string_view url);

// The decoded bytes (lenient decoding, see MF_Base64Codec).
std::vector<std::uint8_t> dataWithBase64String(std::string_view base64);
std::vector<std::uint8_t> dataWithBase64UrlEncodedString(std::string_view url);

}  // namespace vistrelle::base
